// The window on small screens: every control reachable through the scroll
// area at 800 x 600, the chart whole in view once scrolled to, and the
// window's frame on the screen, also at a scale factor of 2 (checked in a
// second run of this program with QT_SCALE_FACTOR=2).
#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "tiremodel/CoefficientTable.h"
#include "ui/FormScrollArea.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

const char* const kScaledRunVariable = "MORVEX_UI_TESTS_ONLY";

bool FrameOnScreen(const QWidget* window) {
  const QScreen* screen = window->screen();
  return screen != nullptr && screen->availableGeometry().contains(window->frameGeometry());
}

}  // namespace

class TestLayout : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  TFormScrollArea* Scroll() const { return Find<TFormScrollArea>("FormScrollArea"); }

  // Every control the user needs, on the page that holds it, is shown
  // whole once the scroll area is asked to reveal it.
  void EveryControlReachable() {
    TFormScrollArea* scroll = Scroll();
    for (const char* name : {"Button1", "Button6", "Button7", "Button2", "ButtonImportRun", "Button10", "Button9",
                             "BitBtnWithColor1", "Button3", "Button4", "Button5", "CheckBox1", "CheckBox2",
                             "CheckBox3", "RadioButton1", "RadioButton2", "RadioButton3", "CBbx_camber"}) {
      QWidget* control = Find(name);
      scroll->Reveal(control);
      QVERIFY2(scroll->ShowsWhole(control), name);
    }
    // The grid and the chart: as much of them as the view holds.
    for (const char* name : {"SG1", "Chart1"}) {
      QWidget* control = Find(name);
      scroll->Reveal(control);
      const QRect shown = QRect(control->mapTo(scroll->viewport(), QPoint(0, 0)), control->size())
                              .intersected(scroll->viewport()->rect());
      QVERIFY2(shown.size() == control->size().boundedTo(scroll->viewport()->size()), name);
    }
    auto* pages = Find<QTabWidget>("Pagecontrol1");
    for (int page = 0; page < pages->count(); ++page) {
      pages->setCurrentIndex(page);
      QCoreApplication::processEvents();
      for (const TCoefficientInfo& info : Coefficients()) {
        QWidget* edit = Edit(info.name);
        if (!edit->isVisible()) continue;  // on another page
        scroll->Reveal(edit);
        QVERIFY2(scroll->ShowsWhole(edit), std::string(info.name).c_str());
        if (!info.HasFreeFlag()) continue;
        QWidget* box = Box(info.name);
        scroll->Reveal(box);
        QVERIFY2(scroll->ShowsWhole(box), std::string(info.name).c_str());
      }
    }
    pages->setCurrentIndex(0);
  }

 private slots:
  void init() {
    dialogs_ = ScriptedDialogs();
    QVERIFY(OpenWindow(dialogs_));
  }

  void cleanup() { CloseWindow(); }

  void at800x600EveryControlScrollsIntoView() {
    form_->resize(800, 600);
    QCoreApplication::processEvents();
    QCOMPARE(form_->size(), QSize(800, 600));
    TFormScrollArea* scroll = Scroll();
    // The controls keep the reference layout; scroll bars reach the rest.
    QVERIFY(scroll->horizontalScrollBar()->isVisible() && scroll->verticalScrollBar()->isVisible());
    QVERIFY(!scroll->ShowsWhole(Find("Button7")));
    QVERIFY(!scroll->ShowsWhole(Find("Chart1")));
    EveryControlReachable();
    // At 800 x 600 the chart fits the view whole: zoom, pan and its menu
    // stay usable.
    scroll->Reveal(Find("Chart1"));
    QVERIFY(scroll->ShowsWhole(Find("Chart1")));

    // A revealed button takes a real click (hit-tested through the window):
    // DRAW without data asks for data.
    scroll->Reveal(Find("Button3"));
    Click("Button3");
    QCOMPARE(dialogs_.messages, std::vector<std::string>{"Load tire data first"});

    // Tab moves the focus to the next control and scrolls it into view.
    QWidget* from = Find("Button7");
    from->setFocus();
    scroll->horizontalScrollBar()->setValue(0);
    scroll->verticalScrollBar()->setValue(0);
    QTest::keyClick(from, Qt::Key_Tab);
    QWidget* next = form_->focusWidget();
    QVERIFY(next != nullptr && next != from);
    QVERIFY(scroll->horizontalScrollBar()->value() > 0);
    QVERIFY(scroll->ShowsWhole(next));

    // For looking at: the window with data, scrolled to the chart.
    if (const QString shots = qEnvironmentVariable("MORVEX_SCREENSHOT_DIR"); !shots.isEmpty()) {
      form_->LoadDataFile(DataFile("lateral.plt"));
      scroll->Reveal(Find("Chart1"));
      QCoreApplication::processEvents();
      QVERIFY(form_->grab().save(QDir(shots).filePath(QStringLiteral("window-800x600-scrolled.png"))));
      scroll->horizontalScrollBar()->setValue(0);
      scroll->verticalScrollBar()->setValue(0);
      QVERIFY(form_->grab().save(QDir(shots).filePath(QStringLiteral("window-800x600-top-left.png"))));
    }

    // Back at the reference size nothing scrolls.
    form_->resize(993, 704);
    QCoreApplication::processEvents();
    QVERIFY(!scroll->horizontalScrollBar()->isVisible() && !scroll->verticalScrollBar()->isVisible());
    QVERIFY(scroll->ShowsWhole(Find("Button7")) && scroll->ShowsWhole(Find("Chart1")));
  }

  void placementFitsTheScreen() {
    const QMargins frame(8, 30, 8, 8);
    // A large screen: the reference size, centred.
    QCOMPARE(PlacedGeometry({993, 704}, {320, 240}, frame, QRect(0, 0, 1920, 1080)),
             QRect(QPoint((1920 - 1009) / 2 + 8, (1080 - 742) / 2 + 30), QSize(993, 704)));
    // 1366 x 768 at scale 2 (683 x 384 logical) with a panel on top, and a
    // second screen to the right: the window shrinks to the screen.
    const QRect small(1366, 14, 683, 370);
    const QRect placed = PlacedGeometry({993, 704}, {320, 240}, frame, small);
    QCOMPARE(placed, QRect(QPoint(1366 + 8, 14 + 30), QSize(683 - 16, 370 - 38)));
    QVERIFY(small.contains(placed.marginsAdded(frame)));
    // A minimum above the screen's size keeps the title bar on the screen.
    const QRect tiny(0, 0, 300, 200);
    QCOMPARE(PlacedGeometry({993, 704}, {320, 240}, frame, tiny).topLeft(), QPoint(8, 30));
  }

  void windowOpensWithItsFrameOnScreen() {
    // As the program does at start: placed before the first show.  The
    // reference size is larger than the test screen (800 x 600, or
    // 400 x 300 logical pixels at scale 2).
    CloseWindow();
    QVERIFY(OpenWindow(dialogs_, true, false));
    const QRect available = form_->screen()->availableGeometry();
    QVERIFY(available.width() < 993 || available.height() < 704);
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("2")) QCOMPARE(available.size(), QSize(960, 540));
    PlaceOnScreen(form_.get());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY2(FrameOnScreen(form_.get()),
             qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                            .arg(form_->frameGeometry().x())
                            .arg(form_->frameGeometry().y())
                            .arg(form_->frameGeometry().width())
                            .arg(form_->frameGeometry().height())));
    // Placed again once shown, with the frame the window system reports.
    PlaceOnScreen(form_.get());
    QVERIFY(FrameOnScreen(form_.get()));
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("2")) {
      QCOMPARE(form_->devicePixelRatioF(), 2.0);
      EveryControlReachable();
    }
  }

  void atScaleFactorTwoTheWindowOpensOnScreen() {
    if (qEnvironmentVariableIsSet(kScaledRunVariable)) QSKIP("this is the scaled run");
    // The scale factor is read at start-up: the checks run again in a
    // second process of this program.
    // A full-HD screen: 960 x 540 logical pixels at scale 2.
    QTemporaryDir dir;
    QFile screens(dir.filePath(QStringLiteral("screens.json")));
    QVERIFY(screens.open(QIODevice::WriteOnly));
    screens.write(R"({"screens": [{"name": "hd", "x": 0, "y": 0, "width": 1920, "height": 1080,
                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screens.fileName());
    environment.insert(QLatin1String(kScaledRunVariable), QLatin1String(metaObject()->className()));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("windowOpensWithItsFrameOnScreen"), QStringLiteral("at800x600EveryControlScrollsIntoView")});
    QVERIFY(run.waitForFinished(120000));
    const QByteArray output = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : morvex::test::TestLayout::windowOpensWithItsFrameOnScreen()"), output.constData());
  }
};

namespace {
RegisterUiTest<TestLayout> register_layout;
}

}  // namespace morvex::test

#include "tst_layout.moc"
