// The settings file beside the program: read when the window is first shown,
// written when it is closed.
#include <QCheckBox>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/app/MainFormFixture.h"

namespace pelicore::testing {
namespace {

using SettingsTest = MainFormTest;

TEST_F(SettingsTest, MissingKeysKeepTheLayoutValues) {
  PutIni("[Pelicore]\nWidth=800\n");
  Open();
  EXPECT_EQ(Form->OuterWidth(), 800);
  EXPECT_EQ(Form->OuterLeft(), 224);
  EXPECT_EQ(Form->OuterTop(), 112);
  EXPECT_EQ(Form->OuterHeight(), 378);
  EXPECT_TRUE(Form->SaveDataCheckBox->isChecked());
  EXPECT_EQ(Form->HostEdit->text(), "");
  EXPECT_EQ(Form->PortEdit->text(), "110");
  EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(SettingsTest, StoredValuesAreShownWhateverTheSwitchSays) {
  PutIni("[Pelicore]\nTop=40\nLeft=30\nHeight=420\nWidth=700\nSavePVData=0\n"
         "[PRAIVATE]\nHost=mail.example\nUserID=太郎\nPassword=p=w \nPort=995\n");
  Open();
  EXPECT_EQ(Form->frameGeometry(), QRect(30, 40, 700, 420));
  EXPECT_FALSE(Form->SaveDataCheckBox->isChecked());
  EXPECT_EQ(Form->HostEdit->text(), "mail.example");
  EXPECT_EQ(Form->UserIDEdit->text().toStdString(), "太郎");
  EXPECT_EQ(Form->PasswordEdit->text(), "p=w ");
  EXPECT_EQ(Form->PortEdit->text(), "995");
}

TEST_F(SettingsTest, PortIsReadAsAWholeNumber) {
  struct Case {
    const char* Stored;
    const char* Shown;
  } Cases[] = {{"abc", "110"}, {"0x6E", "110"}, {"", "110"}, {"$1F", "31"}, {"  25", "25"}};
  for (const auto& C : Cases) {
    PutIni(std::string("[PRAIVATE]\nPort=") + C.Stored + "\n");
    Open();
    EXPECT_EQ(Form->PortEdit->text().toStdString(), C.Shown) << C.Stored;
  }
}

TEST_F(SettingsTest, FirstCloseCreatesBothSectionsAndTheNextStartReadsThem) {
  Open();
  Form->SetOuterLeft(300);
  Form->SetOuterHeight(410);
  Form->PortEdit->setText("0x6E");
  ASSERT_TRUE(CloseWindow());
  EXPECT_EQ(GetIni(),
            "[Pelicore]\nTop=112\nLeft=300\nHeight=410\nWidth=639\nSavePVData=1\n"
            "[PRAIVATE]\nHost=127.0.0.1\nUserID=demo\nPassword=demo\nPort=110\n");
  struct stat St;
  ASSERT_EQ(::stat(IniPath().c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, 0600u) << "the file may hold the password";

  Open();
  EXPECT_EQ(Form->frameGeometry(), QRect(300, 112, 639, 410)) << "sizes do not creep from run to run";
  EXPECT_EQ(Form->PortEdit->text(), "110");
  EXPECT_TRUE(Boxes.Shown.empty());
}

TEST_F(SettingsTest, SwitchOffLeavesTheAccountSectionByteForByte) {
  const std::string Account = "[PRAIVATE]\r\nHost = old.example \r\n; a note\r\nPort=0x6E\r\n";
  PutIni("[Pelicore]\r\nTop=1\r\nLeft=2\r\nSavePVData=1\r\n\r\n" + Account);
  Open();
  Form->SaveDataCheckBox->setChecked(false);
  Form->HostEdit->setText("new.example");
  ASSERT_TRUE(CloseWindow());
  EXPECT_EQ(GetIni(), "[Pelicore]\r\nTop=1\r\nLeft=2\r\nSavePVData=0\r\nHeight=378\r\nWidth=639\r\n\r\n" + Account);
}

TEST_F(SettingsTest, PortThatIsNoNumberKeepsTheWindowOpenAndTheOldPort) {
  PutIni("[PRAIVATE]\nPort=110\n");
  Open();
  Form->HostEdit->setText("new.example");
  Form->PortEdit->setText("1 1");
  EXPECT_FALSE(CloseWindow());
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", "'1 1' は整数ではありません.", "Pelicore"}}));
  EXPECT_EQ(GetIni(),
            "[PRAIVATE]\nPort=110\nHost=new.example\nUserID=\nPassword=\n"
            "[Pelicore]\nTop=112\nLeft=224\nHeight=378\nWidth=639\nSavePVData=1\n");

  Form->PortEdit->setText("2525");
  EXPECT_TRUE(CloseWindow());
  EXPECT_NE(GetIni().find("Port=2525\n"), std::string::npos);
}

// The error names the file; the window still closes, since it could never
// close otherwise.
TEST_F(SettingsTest, UnwritableFolderIsReportedWithThePath) {
  std::vector<std::string> Folders{Folder + "missing/"};
  if (::geteuid() != 0) Folders.push_back(Folder + "readonly/");  // root writes anywhere
  for (const std::string& Where : Folders) {
    SCOPED_TRACE(Where);
    std::filesystem::create_directory(Folder + "readonly");
    ::chmod((Folder + "readonly").c_str(), 0500);
    Application().SetProgramFolder(Where);
    Boxes.Shown.clear();
    Open();
    EXPECT_TRUE(CloseWindow());
    EXPECT_EQ(Errors(), (std::vector<ShownBox>{{"error", Where + "Pelicore.ini に書き込めません.", "Pelicore"}}));
    EXPECT_FALSE(std::filesystem::exists(Where + "Pelicore.ini"));
  }
}

}  // namespace
}  // namespace pelicore::testing
