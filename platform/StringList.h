#pragma once
// An ordered list of byte strings, optionally kept sorted (case-insensitive,
// CompareText). Indexes are 0-based like the list's own API. Files are lines
// ended by CR LF.

#include <string>
#include <string_view>
#include <vector>

namespace pelicore {

class TStringList {
 public:
  TStringList() = default;
  virtual ~TStringList() = default;
  TStringList(const TStringList&) = default;
  TStringList& operator=(const TStringList&) = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Indexed read and write; an index outside 0..Count-1 raises ERangeError
  // "List index out of bounds (<i>)".
  const std::string& Strings(int Index) const;
  const std::string& operator[](int Index) const { return Strings(Index); }
  void Put(int Index, std::string S);

  // Appends (or, when Sorted, inserts in order) and returns the index.
  int Add(std::string S);
  void Insert(int Index, std::string S);
  void Delete(int Index);
  void Clear();
  void Assign(const TStringList& Source);
  void AddStrings(const TStringList& Source);
  int IndexOf(std::string_view S) const;

  // Every line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, LF or CR; a final line end adds no empty line.
  void SetText(std::string_view Text);

  // Throws EFOpenError / EFCreateError / EWriteError with the file's name.
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

  bool Sorted() const { return FSorted; }
  // Turning sorting on sorts the entries.
  void SetSorted(bool Value);

  // "name=value" entries.
  int IndexOfName(std::string_view Name) const;
  std::string Values(std::string_view Name) const;

  const std::vector<std::string>& Items() const { return FItems; }

 protected:
  // Binary search of a sorted list: the index of S, or where it would go.
  bool Find(std::string_view S, int& Index) const;
  void CheckIndex(int Index) const;

 private:
  std::vector<std::string> FItems;
  bool FSorted = false;
};

}  // namespace pelicore
