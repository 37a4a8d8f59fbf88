// The main window under test, shared by the window test classes: a fresh
// folder holding the test settings files, the window over it (with a wait
// screen, and shown, when asked), the dialogs the test scripts, and the ways
// to reach the window's controls by their names.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>
#include <string_view>

#include "tiremodel/CoefficientTable.h"
#include "ui/Dialogs.h"
#include "ui/Popcalcul.h"
#include "ui/Unit1.h"

namespace morvex::test {

// A file of the test data folder.
inline std::string DataFile(const char* name) {
  return QDir(QStringLiteral(MORVEX_TEST_DATA_DIR)).filePath(QLatin1String(name)).toStdString();
}

class TWindowFixture {
 protected:
  // Installs `dialogs`, makes the folder with the test's configuration.ini
  // and param_fm_ini.ini and the window over it; false when a settings file
  // could not be copied or the window did not appear.
  bool OpenWindow(IDialogs& dialogs, bool wait_screen = true, bool show = true) {
    SetDialogs(&dialogs);
    dir_ = std::make_unique<QTemporaryDir>();
    for (const char* name : {"configuration.ini", "param_fm_ini.ini"})
      if (!QFile::copy(QString::fromStdString(DataFile(name)), dir_->filePath(QLatin1String(name)))) return false;
    form_ = std::make_unique<TForm1>(dir_->path());
    if (wait_screen) {
      wait_ = std::make_unique<TPopcalcul>();
      form_->SetWaitScreen(wait_.get());
    }
    if (!show) return true;
    form_->show();
    return QTest::qWaitForWindowExposed(form_.get());
  }

  void CloseWindow() {
    form_.reset();
    wait_.reset();
    SetDialogs(nullptr);
  }

  template <class T = QWidget>
  T* Find(const char* name) const {
    T* widget = form_->findChild<T*>(QLatin1String(name));
    if (widget == nullptr) qFatal("no control %s", name);
    return widget;
  }
  QLineEdit* Edit(std::string_view coefficient) const {
    return Find<QLineEdit>(std::string(Coefficient(coefficient).edit).c_str());
  }
  QCheckBox* Box(std::string_view coefficient) const {
    return Find<QCheckBox>(std::string(Coefficient(coefficient).check_box).c_str());
  }
  void Click(const char* name) { QTest::mouseClick(Find<QAbstractButton>(name), Qt::LeftButton); }
  // Fits run on a thread of their own: waits (events flowing) until the
  // window has taken the result of the fit started last.  False when it
  // has not within two minutes.
  [[nodiscard]] bool WaitForFit() const {
    return QTest::qWaitFor([this] { return !form_->FitRunning(); }, 120000);
  }
  // Clicks a fit command and waits for its fit to end.
  void Fit(const char* name) {
    Click(name);
    if (!WaitForFit()) qFatal("the fit started by %s did not end", name);
  }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<TPopcalcul> wait_;
};

}  // namespace morvex::test
