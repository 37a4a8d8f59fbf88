// GUI tests of the auxiliary windows: the tire size calculator, the wait
// screen, the coloured button, the JPEG pictures, the help command and the
// start-up help diagnostics.  Run on the offscreen platform.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "ui/BitBtnWithColor.h"
#include "ui/Dialogs.h"
#include "ui/HelpDiagnostics.h"
#include "ui/HelpLauncher.h"
#include "ui/Jpeg.h"
#include "ui/Popcalcul.h"
#include "ui/Unit3.h"

namespace fs = std::filesystem;
using namespace morvex;

namespace {

// Message boxes are recorded instead of shown.
class RecordingDialogs final : public IDialogs {
 public:
  std::optional<std::string> OpenFile(QWidget*, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> SaveFile(QWidget*, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void Message(QWidget*, const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

QByteArray ReadResource(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

void Touch(const fs::path& path) { std::ofstream(path) << "x"; }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class TestAuxWindows : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    SetDecimalSeparator('.');
    dialogs_.messages.clear();
    SetDialogs(&dialogs_);
    radius_edit_ = new QLineEdit(QStringLiteral("0.3"));
    form3_ = new TForm3(radius_edit_);
    form3_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form3_));
  }

  void cleanup() {
    delete form3_;
    delete radius_edit_;
    SetDialogs(nullptr);
    SetUrlOpener({});
  }

  // ------------------------------------------------------------ calculator

  void calculatorWritesRadius_data() {
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("aspect");
    QTest::addColumn<QString>("rim");
    QTest::addColumn<QString>("radius");
    QTest::newRow("205/55 R 16") << "205" << "55" << "16" << "0.31595";
    QTest::newRow("195/65 R 15") << "195" << "65" << "15" << "0.31725";
    QTest::newRow("blanks, fraction") << " 225 " << "40" << "18.5" << "0.32495";
  }

  void calculatorWritesRadius() {
    QFETCH(QString, width);
    QFETCH(QString, aspect);
    QFETCH(QString, rim);
    QFETCH(QString, radius);
    TypeSize(width, aspect, rim);
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    QCOMPARE(radius_edit_->text(), radius);
    QVERIFY(dialogs_.messages.empty());
    QVERIFY(!form3_->isVisible());
    QCOMPARE(form3_->result(), int(QDialog::Accepted));
  }

  void calculatorUsesLocaleDecimalSeparator() {
    SetDecimalSeparator(',');
    TypeSize("205", "55", "16,5");
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    QCOMPARE(radius_edit_->text(), QStringLiteral("0,3223"));
  }

  void calculatorReportsBadText_data() {
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("aspect");
    QTest::addColumn<QString>("rim");
    QTest::addColumn<QString>("message");
    QTest::newRow("letters in width")
        << "2o5" << "55" << "16" << "'2o5' n'est pas une valeur en virgule flottante correcte";
    QTest::newRow("empty rim") << "205" << "55" << ""
                               << "'' n'est pas une valeur en virgule flottante correcte";
    QTest::newRow("comma with point separator")
        << "205" << "55,5" << "16" << "'55,5' n'est pas une valeur en virgule flottante correcte";
    QTest::newRow("first bad text wins")
        << "x" << "y" << "16" << "'x' n'est pas une valeur en virgule flottante correcte";
  }

  void calculatorReportsBadText() {
    QFETCH(QString, width);
    QFETCH(QString, aspect);
    QFETCH(QString, rim);
    QFETCH(QString, message);
    TypeSize(width, aspect, rim);
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QCOMPARE(QString::fromStdString(dialogs_.messages[0]), message);
    QCOMPARE(radius_edit_->text(), QStringLiteral("0.3"));
    QVERIFY(form3_->isVisible());
  }

  void calculatorKeepsTextsBetweenOpenings() {
    TypeSize("205", "55", "16");
    form3_->close();  // the close box: R0 stays
    QVERIFY(!form3_->isVisible());
    QCOMPARE(radius_edit_->text(), QStringLiteral("0.3"));
    form3_->show();
    QCOMPARE(Find<QLineEdit>("LabeledEdit1")->text(), QStringLiteral("205"));
    QCOMPARE(Find<QLineEdit>("LabeledEdit2")->text(), QStringLiteral("55"));
    QCOMPARE(Find<QLineEdit>("LabeledEdit3")->text(), QStringLiteral("16"));
    QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
    form3_->show();
    QCOMPARE(Find<QLineEdit>("LabeledEdit3")->text(), QStringLiteral("16"));
  }

  void calculatorShowsSidewallStretched() {
    const auto* image = Find<QLabel>("Image1");
    QCOMPARE(image->geometry(), QRect(0, 0, 537, 345));
    QVERIFY(image->hasScaledContents());
    QCOMPARE(image->pixmap().size(), QSize(425, 304));
  }

  // -------------------------------------------------------------- pictures

  void decodesEmbeddedPictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("sidewall") << ":/images/sidewall.jpg" << QSize(425, 304);
    QTest::newRow("wait screen") << ":/images/waitscreen.jpg" << QSize(203, 397);
  }

  void decodesEmbeddedPictures() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image = DecodeJpeg(ReadResource(path));
    QCOMPARE(image.size(), size);
    // A real picture, not a grey fill: the corners differ from the middle.
    QVERIFY(image.pixel(0, 0) != image.pixel(size.width() / 2, size.height() / 2));
  }

  void rejectsCorruptJpeg_data() {
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = ReadResource(":/images/sidewall.jpg");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a jpeg") << QByteArray("GIF89a this is no picture at all");
    QTest::newRow("cut in half") << good.left(good.size() / 2);
    QByteArray scrambled = good;
    for (qsizetype i = 700; i < scrambled.size() - 2; i += 97) scrambled[i] = char(0xFF);
    QTest::newRow("scrambled entropy data") << scrambled;
  }

  void rejectsCorruptJpeg() {
    QFETCH(QByteArray, data);
    try {
      DecodeJpeg(data);
      QFAIL("a corrupt picture was decoded");
    } catch (const Exception& error) {
      QVERIFY2(QString::fromStdString(error.Message()).startsWith("JPEG picture cannot be decoded"),
               error.what());
    }
  }

  // ----------------------------------------------------------- wait screen

  void waitScreenPaintsPictureAndProgress() {
    TPopcalcul wait;
    QVERIFY(wait.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(wait.size(), QSize(204, 402));
    wait.show();
    QVERIFY(wait.isVisible());
    const QPoint offset = wait.geometry().center() - wait.screen()->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, "the wait screen is not centred");

    const QImage picture = DecodeJpeg(ReadResource(":/images/waitscreen.jpg"));
    const QImage before = wait.grab().toImage();
    QCOMPARE(before.pixelColor(100, 120), picture.pixelColor(100, 120));

    wait.SetProgressText(QStringLiteral("Iteration 12, cost 3.5"));
    QCOMPARE(wait.ProgressText(), QStringLiteral("Iteration 12, cost 3.5"));
    const QImage after = wait.grab().toImage();
    QCOMPARE(after.pixelColor(100, 120), before.pixelColor(100, 120));
    QVERIFY(Differs(before, after, QRect(0, 372, 204, 30)));

    wait.SetProgressText(QString());
    QVERIFY(!Differs(before, wait.grab().toImage(), QRect(0, 0, 204, 402)));
  }

  // -------------------------------------------------------- coloured button

  void colouredButtonPaintsItsFace() {
    TBitBtnWithColor button(QStringLiteral("Help"));
    button.SetColor(QColor(64, 128, 128));
    button.resize(90, 30);
    const QImage face = button.grab().toImage();
    QCOMPARE(face.pixelColor(6, 15), QColor(64, 128, 128));
    QCOMPARE(face.pixelColor(0, 15), QColor(Qt::white));  // raised edge, lit side
    QCOMPARE(face.pixelColor(89, 15), QColor(Qt::black));
    QCOMPARE(button.CaptionColor(), QColor(Qt::white));  // readable on the dark face
    button.SetColor(QColor(230, 230, 200));
    QCOMPARE(button.grab().toImage().pixelColor(6, 15), QColor(230, 230, 200));
    QCOMPARE(button.CaptionColor(), QColor(Qt::black));
  }

  // ----------------------------------------------------------------- help

  void helpPrefersCompiledFileInWorkingDir() {
    QTemporaryDir work, exe;
    Touch(fs::path(work.path().toStdString()) / "morvex.chm");
    MakeHtmlHelp(exe.path());
    RecordOpens(true);
    const QUrl url = OpenHelpFrom(nullptr, work.path(), exe.path());
    QCOMPARE(url, QUrl::fromLocalFile(work.filePath("morvex.chm")));
    QCOMPARE(opened_, QList<QUrl>{url});
    QVERIFY(dialogs_.messages.empty());
  }

  void helpFallsBackToShippedPages() {
    QTemporaryDir work, exe;
    // A compiled help beside the executable does not count: only the working dir.
    Touch(fs::path(exe.path().toStdString()) / "morvex.chm");
    MakeHtmlHelp(exe.path());
    RecordOpens(true);
    OpenHelpFrom(nullptr, work.path(), exe.path());
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(exe.filePath("help/index.html"))});
  }

  void helpReportsMissingHelpAndViewer() {
    QTemporaryDir work, exe;
    RecordOpens(true);
    QVERIFY(OpenHelpFrom(nullptr, work.path(), exe.path()).isEmpty());
    QVERIFY(opened_.isEmpty());
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QVERIFY(QString::fromStdString(dialogs_.messages[0]).contains("morvex.chm"));

    // No viewer on the desktop: the guide opens in the program's own window.
    MakeHtmlHelp(exe.path());
    RecordOpens(false);
    const QUrl shown = OpenHelpFrom(nullptr, work.path(), exe.path());
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QCOMPARE(shown, QUrl::fromLocalFile(exe.filePath("help/index.html")));
    QWidget* window = BuiltInHelpWindow();
    QVERIFY(window != nullptr && window->isVisible());
    auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    QVERIFY(browser != nullptr);
    QCOMPARE(browser->source(), shown);
    window->close();

    // A compiled help file that nothing can open, and no guide to fall back
    // on: the message names the file.
    QTemporaryDir bare;
    Touch(fs::path(work.path().toStdString()) / "morvex.chm");
    OpenHelpFrom(nullptr, work.path(), bare.path());
    QCOMPARE(dialogs_.messages.size(), size_t(2));
    QVERIFY(QString::fromStdString(dialogs_.messages[1]).contains("morvex.chm"));
  }

  void builtInHelpGoesBackAndCloses() {
    // A guide of two pages, and no viewer on the desktop.
    QTemporaryDir work, exe;
    QDir(exe.path()).mkpath("help");
    const fs::path help = fs::path(exe.path().toStdString()) / "help";
    std::ofstream(help / "index.html") << "<html><body><p>Start</p><a href=\"fitting.html\">Fitting</a></body></html>";
    std::ofstream(help / "fitting.html") << "<html><body><p>How a fit runs</p></body></html>";
    RecordOpens(false);
    const QUrl index = OpenHelpFrom(nullptr, work.path(), exe.path());
    QPointer<QWidget> window = BuiltInHelpWindow();
    QVERIFY(window != nullptr && QTest::qWaitForWindowExposed(window));
    auto* browser = window->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    auto* back = window->findChild<QPushButton*>(QStringLiteral("HelpBack"));
    auto* close = window->findChild<QPushButton*>(QStringLiteral("HelpClose"));
    QVERIFY(browser != nullptr && back != nullptr && close != nullptr);
    QVERIFY(!back->isEnabled());  // nothing to go back to on the first page

    // Following the link, then Back.
    browser->setSource(QUrl::fromLocalFile(exe.filePath("help/fitting.html")));
    QVERIFY(browser->toPlainText().contains(QStringLiteral("How a fit runs")));
    QVERIFY(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(browser->source(), index);
    QVERIFY(!back->isEnabled());

    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY(window == nullptr);

    // Escape closes it, whether the page or a button has the focus.
    for (const char* focused : {"HelpBrowser", "HelpClose"}) {
      OpenHelpFrom(nullptr, work.path(), exe.path());
      window = BuiltInHelpWindow();
      QVERIFY(window != nullptr && QTest::qWaitForWindowExposed(window));
      QTest::keyClick(window->findChild<QWidget*>(QLatin1String(focused)), Qt::Key_Escape);
      QTRY_VERIFY(window == nullptr);
    }
  }

  void helpCommandLooksInCurrentDirectory() {
    QTemporaryDir work;
    Touch(fs::path(work.path().toStdString()) / "morvex.chm");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    RecordOpens(true);
    OpenHelp(nullptr);
    QDir::setCurrent(previous);
    QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(work.filePath("morvex.chm"))});
  }

  // ---------------------------------------------------------- diagnostics

  void diagnosticsWriteReportOnlyWhenAsked_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("trigger_file");
    QTest::addColumn<bool>("written");
    QTest::newRow("no switch") << QStringList{"data.plt"} << false << false;
    QTest::newRow("-DEBUG") << QStringList{"-DEBUG"} << false << true;
    QTest::newRow("/debug") << QStringList{"x", "/Debug"} << false << true;
    QTest::newRow("debug.debug") << QStringList{} << true << true;
    QTest::newRow("--debug is not a switch") << QStringList{"--debug", "debug"} << false << false;
  }

  void diagnosticsWriteReportOnlyWhenAsked() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, trigger_file);
    QFETCH(bool, written);
    QTemporaryDir exe_dir, temp_dir, start_dir;
    const fs::path dir = exe_dir.path().toStdString();
    const fs::path report = dir / "HHDebug.txt";
    std::ofstream(report) << "old report\n";
    if (trigger_file) Touch(dir / "debug.debug");
    std::vector<std::string> parameters;
    for (const QString& argument : arguments) parameters.push_back(argument.toStdString());

    const THelpDiagnostics details =
        RunHelpDiagnostics(dir / "morvex", parameters, start_dir.path().toStdString(), temp_dir.path().toStdString());
    QCOMPARE(details.debug, written);
    QCOMPARE(details.output_directory, dir);
    QCOMPARE(details.report_written, written);
    QVERIFY(!fs::exists(dir / "$_Temp_$.$$$"));
    QCOMPARE(fs::exists(report), written);
    if (!written) return;

    const std::string text = ReadText(report);
    QVERIFY(text.find("old report") == std::string::npos);
    QVERIFY(text.find("!Filename:             " + (dir / "morvex").string() + "\n") != std::string::npos);
    QVERIFY(text.find("!DecimalSeparator:      ") != std::string::npos);
    QVERIFY(text.find(start_dir.path().toStdString()) != std::string::npos);
    for (const std::string& argument : parameters) QVERIFY(text.find(argument) != std::string::npos);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) QVERIFY2(line.rfind('!', 0) == 0, line.c_str());
  }

  void diagnosticsFallBackToTempDir() {
    QTemporaryDir temp_dir, start_dir;
    const fs::path temp = temp_dir.path().toStdString();
    std::ofstream(temp / "HHDebug.txt") << "old report\n";
    // A directory that cannot take a file (here: one that does not exist).
    const fs::path exe = temp / "missing" / "morvex";
    THelpDiagnostics details = RunHelpDiagnostics(exe, {}, start_dir.path().toStdString(), temp);
    QCOMPARE(details.output_directory, temp);
    QVERIFY(!fs::exists(temp / "HHDebug.txt"));
    details = RunHelpDiagnostics(exe, {"-debug"}, start_dir.path().toStdString(), temp);
    QVERIFY(details.report_written);
    QVERIFY(fs::exists(temp / "HHDebug.txt"));
  }

 private:
  template <class T>
  T* Find(const char* name) {
    T* child = form3_->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no control %s", name);
    return child;
  }

  void TypeSize(const QString& width, const QString& aspect, const QString& rim) {
    const char* names[] = {"LabeledEdit1", "LabeledEdit2", "LabeledEdit3"};
    const QString texts[] = {width, aspect, rim};
    for (int i = 0; i < 3; ++i) {
      QLineEdit* edit = Find<QLineEdit>(names[i]);
      edit->clear();
      QTest::keyClicks(edit, texts[i]);
    }
  }

  void RecordOpens(bool result) {
    opened_.clear();
    SetUrlOpener([this, result](const QUrl& url) {
      opened_.append(url);
      return result;
    });
  }

  static void MakeHtmlHelp(const QString& exe_dir) {
    QDir(exe_dir).mkpath("help");
    Touch(fs::path(exe_dir.toStdString()) / "help" / "index.html");
  }

  static bool Differs(const QImage& a, const QImage& b, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) return true;
    return false;
  }

  RecordingDialogs dialogs_;
  QLineEdit* radius_edit_ = nullptr;
  TForm3* form3_ = nullptr;
  QList<QUrl> opened_;
};

QTEST_MAIN(TestAuxWindows)
#include "tst_auxwindows.moc"
