#include "ui/HelpLauncher.h"

#include <utility>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/Dialogs.h"

namespace morvex {

namespace {

const char* const kCompiledHelp = "morvex.chm";
const char* const kHtmlHelp = "help/index.html";
// Where cmake --install puts the guide, relative to the executable.
const char* const kInstalledHtmlHelp = "../share/morvex/help/index.html";

// Closes its parent window on Escape.
class TCloseOnEscape : public QObject {
 public:
  explicit TCloseOnEscape(QWidget* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      window_->close();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget* window_;
};

QPointer<QWidget>& BuiltInWindow() {
  static QPointer<QWidget> window;
  return window;
}

// Shows `html` in the program's own help window.
QUrl ShowBuiltIn(QWidget* parent, const QString& html) {
  QPointer<QWidget>& window = BuiltInWindow();
  QTextBrowser* browser = nullptr;
  if (window == nullptr) {
    window = new QWidget(parent, Qt::Window);
    window->setObjectName(QStringLiteral("HelpWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Morvex help"));
    window->resize(760, 620);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    browser = new QTextBrowser(window);
    browser->setObjectName(QStringLiteral("HelpBrowser"));
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    // Back to the page before a followed link; Close and Escape close it.
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(6, 0, 6, 6);
    auto* back = new QPushButton(QStringLiteral("Back"), window);
    back->setObjectName(QStringLiteral("HelpBack"));
    back->setEnabled(false);
    QObject::connect(back, &QPushButton::clicked, browser, &QTextBrowser::backward);
    QObject::connect(browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    auto* close = new QPushButton(QStringLiteral("Close"), window);
    close->setObjectName(QStringLiteral("HelpClose"));
    QObject::connect(close, &QPushButton::clicked, window.data(), &QWidget::close);
    // Escape reaches the window from whichever of its controls has the
    // focus: the browser and the buttons leave the key to their parent.
    auto* escape = new TCloseOnEscape(window);
    window->installEventFilter(escape);
    browser->installEventFilter(escape);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
  } else {
    browser = window->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
  }
  const QUrl url = QUrl::fromLocalFile(html);
  browser->setSource(url);
  window->show();
  window->raise();
  window->activateWindow();
  return url;
}

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
  QFileInfo html(QDir(executable_dir).filePath(QLatin1String(kHtmlHelp)));
  const QFileInfo installed(QDir(executable_dir).filePath(QLatin1String(kInstalledHtmlHelp)));
  if (!html.isFile() && installed.isFile()) html = installed;
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
  if (Open(url)) return url;
  // No viewer on this desktop: the HTML guide in the program's own window.
  if (html.isFile()) return ShowBuiltIn(parent, html.absoluteFilePath());
  Dialogs().Message(parent, "No viewer could open the help file " +
                                QDir::toNativeSeparators(path).toStdString() + ".");
  return url;
}

QWidget* BuiltInHelpWindow() { return BuiltInWindow(); }

}  // namespace morvex
