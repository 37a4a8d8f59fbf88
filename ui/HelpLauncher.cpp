#include "ui/HelpLauncher.h"

#include <utility>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include "ui/Dialogs.h"

namespace morvex {

namespace {

const char* const kCompiledHelp = "morvex.chm";
const char* const kHtmlHelp = "help/index.html";

UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}

bool Open(const QUrl& url) {
  if (Opener()) return Opener()(url);
  return QDesktopServices::openUrl(url);
}

}  // namespace

void SetUrlOpener(UrlOpener opener) { Opener() = std::move(opener); }

void OpenHelp(QWidget* parent) {
  OpenHelpFrom(parent, QDir::currentPath(), QCoreApplication::applicationDirPath());
}

QUrl OpenHelpFrom(QWidget* parent, const QString& working_dir, const QString& executable_dir) {
  const QFileInfo compiled(QDir(working_dir).filePath(QLatin1String(kCompiledHelp)));
  const QFileInfo html(QDir(executable_dir).filePath(QLatin1String(kHtmlHelp)));
  QString path;
  if (compiled.isFile()) {
    path = compiled.absoluteFilePath();
  } else if (html.isFile()) {
    path = html.absoluteFilePath();
  } else {
    Dialogs().Message(parent, "No help found: neither " + QDir::toNativeSeparators(compiled.absoluteFilePath()).toStdString() +
                                  " nor " + QDir::toNativeSeparators(html.absoluteFilePath()).toStdString() +
                                  " exists.");
    return {};
  }
  const QUrl url = QUrl::fromLocalFile(path);
  if (!Open(url)) {
    Dialogs().Message(parent, "No viewer could open the help file " +
                                  QDir::toNativeSeparators(path).toStdString() + ".");
  }
  return url;
}

}  // namespace morvex
