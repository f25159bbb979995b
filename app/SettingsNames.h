#pragma once
// The settings file beside the program: its name, its sections and its keys.
// They are the file's format: a changed spelling (that of the account
// section included) would lose every saved setting.

namespace pelicore {

inline constexpr const char* SettingsFileBaseName = "Pelicore.ini";

// The window's place and size, and whether the account is kept.
inline constexpr const char* WindowSection = "Pelicore";
// The account: host, user, password and port.
inline constexpr const char* AccountSection = "PRAIVATE";

namespace SettingsKey {
inline constexpr const char* Top = "Top";
inline constexpr const char* Left = "Left";
inline constexpr const char* Height = "Height";
inline constexpr const char* Width = "Width";
inline constexpr const char* SaveAccount = "SavePVData";
inline constexpr const char* Host = "Host";
inline constexpr const char* UserID = "UserID";
inline constexpr const char* Password = "Password";
inline constexpr const char* Port = "Port";
}  // namespace SettingsKey

// The port shown when the file names none.
inline constexpr int DefaultPop3Port = 110;

}  // namespace pelicore
