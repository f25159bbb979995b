#pragma once
// A fixture that runs the real main window on the offscreen platform with
// scripted boxes, in a program folder of its own.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/MessageBoxes.h"
#include "app/PelicoreMainFm.h"
#include "platform/Application.h"
#include "pop3/NMpop3.h"
#include "tests/app/ScriptedBoxes.h"
#include "tests/support/TempFolder.h"

namespace pelicore::testing {

// Enabled flags of Connect, Disconnect, GetSummary, DeleteMail, DownloadMail
// and About, as '1' and '0'.
inline constexpr const char* Disconnected = "100001";
inline constexpr const char* Connected = "011111";

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application().SetProgramFolder(Folder);
    Application().Title = "Pelicore";
    InstallErrorBox(Boxes);
  }

  void TearDown() override {
    Form.reset();
    Application().SetExceptionHandler(nullptr);
  }

  TPelicoreMainForm& Open() {
    Form = std::make_unique<TPelicoreMainForm>(Boxes);
    Form->show();
    Application().ProcessMessages();
    return *Form;
  }

  // Closes the window as the user does; true when it closed.
  bool CloseWindow() {
    bool Closed = Form->close();
    Application().ProcessMessages();
    return Closed;
  }

  std::string Actions() const {
    std::string Flags;
    for (QAction* A : {Form->ConnectAction, Form->DisconnectAction, Form->GetSummaryAction, Form->DeleteMailAction,
                       Form->DownloadMailAction, Form->AboutAction})
      Flags += A->isEnabled() ? '1' : '0';
    return Flags;
  }

  std::string Status() const { return Form->StateLabel->text().toStdString(); }

  // Each row as "caption:size".
  std::vector<std::string> Rows() const {
    std::vector<std::string> Result;
    for (int I = 0; I < Form->MailListView->topLevelItemCount(); ++I) {
      QTreeWidgetItem* Row = Form->MailListView->topLevelItem(I);
      Result.push_back((Row->text(0) + ":" + Row->text(1)).toStdString());
    }
    return Result;
  }

  void Connect(const std::string& Host, int Port, const std::string& User, const std::string& Password) {
    Form->HostEdit->setText(QString::fromStdString(Host));
    Form->PortEdit->setText(QString::number(Port));
    Form->UserIDEdit->setText(QString::fromStdString(User));
    Form->PasswordEdit->setText(QString::fromStdString(Password));
    Form->ConnectAction->trigger();
  }

  std::string IniPath() const { return Folder + "Pelicore.ini"; }
  void PutIni(const std::string& Content) const { std::ofstream(IniPath(), std::ios::binary) << Content; }
  std::string GetIni() const {
    std::ifstream In(IniPath(), std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }

  // Saves a picture of the window beside the test program, for the eye.
  void Render(const char* Name) const {
    EXPECT_TRUE(Form->grab().save(QStringLiteral(QT_TESTCASE_BUILDDIR "/") + QString::fromLatin1(Name)));
  }

  std::vector<ShownBox> Errors() const {
    std::vector<ShownBox> Result;
    for (const auto& B : Boxes.Shown)
      if (B.Kind == "error") Result.push_back(B);
    return Result;
  }

  TempFolder Temp{"pelicore-app"};
  const std::string Folder = Temp.Path() + "/";  // the program folder of the test
  ScriptedBoxes Boxes;
  std::unique_ptr<TPelicoreMainForm> Form;
};

}  // namespace pelicore::testing
