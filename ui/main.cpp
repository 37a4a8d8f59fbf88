// Morvex desktop program: fits Magic Formula tire coefficients to measured
// data in one main window.
//
// Start-up order: the help diagnostics look at the command line before
// anything else, the application object is made, the decimal separator is
// taken from the user's locale, then the main window, the wait screen and
// the tire size calculator are created, and the event loop runs until the
// main window closes.
#include <QAbstractButton>
#include <QChart>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QRadioButton>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QTabWidget>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "files/CoefficientFile.h"
#include "numerics/LxBasics.h"
#include "ui/ChartView.h"
#include "ui/CoreHooks.h"
#include "ui/Dialogs.h"
#include "ui/FormScrollArea.h"
#include "ui/Unit1.h"

#include "ui/HelpDiagnostics.h"
#include "ui/Popcalcul.h"
#include "ui/Unit3.h"

namespace {

const char* const kUsage =
    "Usage: morvex [OPTIONS] [DATA_FILE]\n"
    "\n"
    "Fits Magic Formula tire coefficients to measured tire data.\n"
    "\n"
    "  DATA_FILE          a tire data file (*.plt) to load at start, as with\n"
    "                     \"Load tire data\"\n"
    "  --page PAGE        open the coefficient page PAGE at start: lateral,\n"
    "                     longitudinal or aligning\n"
    "  --fit CHANNEL      run a fit once the window is shown: lateral,\n"
    "                     aligning or longitudinal (needs DATA_FILE)\n"
    "  --genetic          use the genetic algorithm instead of\n"
    "                     Levenberg-Marquardt for --fit\n"
    "  --trust-region     use the trust region instead of\n"
    "                     Levenberg-Marquardt for --fit\n"
    "  --report           open the fit report after --fit\n"
    "  --coefficients FILE  import a coefficient file at start, as with\n"
    "                     \"Import MF model\"\n"
    "  --residuals        show the residual view (measured - model)\n"
    "  --zoom FACTOR      zoom the chart by FACTOR around its centre after\n"
    "                     the start-up work\n"
    "  --save-chart FILE  save the chart as a picture (.png or .svg) after\n"
    "                     the start-up work\n"
    "  --maximized        open the window maximised\n"
    "  -debug, /debug     write the help diagnostics report HHDebug.txt\n"
    "  -h, --help         show this help and exit\n"
    "\n"
    "The start-up coefficients are read from param_fm_ini.ini and the fit\n"
    "settings from configuration.ini, both beside the executable.\n"
    "\"Export to file\" and \"Import MF model\" handle Morvex's coefficient\n"
    "files (*.txt) and Magic Formula property files (*.tir, ISO signs; the\n"
    "window asks whether the panel is iso or positive-stiffness, and\n"
    "exporting into an existing .tir keeps its other lines as a template).\n"
    "Qt options such as -platform offscreen are accepted too.\n";

struct Options {
  std::optional<std::string> data_file;
  int page = -1;          // index of the coefficient page to open
  const char* fit = nullptr;  // object name of the fit button to press
  bool genetic = false;
  bool trust_region = false;
  bool report = false;
  bool residuals = false;
  bool maximized = false;
  double zoom = 0;
  std::optional<std::string> coefficients;
  std::optional<std::string> save_chart;
  bool help = false;
  std::string error;
};

// Reads the program's own arguments.  Runs before QApplication exists, so
// that --help works without a display; Qt's own options are left to Qt.
Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 < argc) return std::string(argv[++i]);
      options.error = std::string("option ") + name + " needs a value";
      return std::nullopt;
    };
    if (arg == "-h" || arg == "--help" || arg == "/?") {
      options.help = true;
    } else if (morvex::IsDebugSwitch(arg)) {
      // handled by the help diagnostics
    } else if (arg == "--page") {
      const auto page = value("--page");
      if (!page) break;
      if (*page == "lateral") options.page = 0;
      else if (*page == "longitudinal") options.page = 1;
      else if (*page == "aligning") options.page = 2;
      else options.error = "unknown page " + *page;
    } else if (arg == "--fit") {
      const auto channel = value("--fit");
      if (!channel) break;
      if (*channel == "lateral") options.fit = "Button1";
      else if (*channel == "aligning") options.fit = "Button6";
      else if (*channel == "longitudinal") options.fit = "Button7";
      else options.error = "unknown fit channel " + *channel;
    } else if (arg == "--genetic") {
      options.genetic = true;
    } else if (arg == "--trust-region") {
      options.trust_region = true;
    } else if (arg == "--report") {
      options.report = true;
    } else if (arg == "--residuals") {
      options.residuals = true;
    } else if (arg == "--maximized") {
      options.maximized = true;
    } else if (arg == "--coefficients") {
      options.coefficients = value("--coefficients");
    } else if (arg == "--save-chart") {
      options.save_chart = value("--save-chart");
    } else if (arg == "--zoom") {
      const auto factor = value("--zoom");
      if (!factor) break;
      char* end = nullptr;
      options.zoom = std::strtod(factor->c_str(), &end);
      if (end == factor->c_str() || *end != '\0' || !(options.zoom > 0)) options.error = "bad zoom factor " + *factor;
    } else if (arg.rfind("--", 0) == 0) {
      options.error = "unknown option " + arg;
    } else if (arg.size() > 1 && arg[0] == '-') {
      // A Qt option (-platform, -style, ...) and, when it takes one, its
      // value: QApplication reads them itself.
      static const char* const kQtOptionsWithValue[] = {"-platform", "-platformpluginpath", "-platformtheme",
                                                        "-style", "-stylesheet", "-qmljsdebugger",
                                                        "-display", "-geometry", "-title", "-session"};
      for (const char* name : kQtOptionsWithValue)
        if (arg == name && i + 1 < argc) ++i;
    } else if (!options.data_file) {
      options.data_file = arg;
    } else {
      options.error = "more than one data file given";
    }
  }
  if (options.fit && !options.data_file) options.error = "--fit needs a data file";
  if (options.report && !options.fit) options.error = "--report needs --fit";
  if (options.genetic && options.trust_region) options.error = "choose --genetic or --trust-region";
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "morvex: %s\n\n%s", options.error.c_str(), kUsage);
    return 2;
  }

  morvex::RunHelpDiagnostics(argc, argv);

  QApplication app(argc, argv);
  // Qt switches the C library to the user's locale; the program converts
  // numbers itself with the locale's decimal separator and keeps the C
  // library's numeric conventions at "C".
  std::setlocale(LC_NUMERIC, "C");
  morvex::InitDecimalSeparatorFromLocale();

  morvex::TForm1 form1;
  morvex::InstallCoreMessageSink(&form1);
  morvex::TPopcalcul popcalcul;  // the wait screen, hidden
  form1.SetWaitScreen(&popcalcul);
  auto* form3 = new morvex::TForm3(form1.RadiusEdit(), &form1);  // the calculator, hidden
  form1.SetCalculator(form3);

  if (options.page >= 0) {
    if (auto* pages = form1.findChild<QTabWidget*>(QStringLiteral("Pagecontrol1")))
      pages->setCurrentIndex(options.page);
  }
  if (options.genetic) {
    if (auto* genetic = form1.findChild<QRadioButton*>(QStringLiteral("RadioButton2"))) genetic->setChecked(true);
  }
  if (options.trust_region) {
    if (auto* trust = form1.findChild<QRadioButton*>(QStringLiteral("RadioButton3"))) trust->setChecked(true);
  }

  if (options.residuals) form1.SetResidualsShown(true);
  // Centred on the screen and no larger than it (a small screen, or a large
  // scale factor): the controls scroll in a smaller window.
  morvex::PlaceOnScreen(&form1);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (options.maximized) {
    // Without a window manager a maximised window keeps its size: take the
    // screen's then.
    if (screen != nullptr) form1.setGeometry(screen->availableGeometry());
    form1.showMaximized();
  } else {
    form1.show();
  }

  if (options.coefficients) {
    morvex::Guarded(&form1, [&] { morvex::ImportCoefficients(form1.Coefficients(), *options.coefficients); });
  }

  if (options.data_file) {
    morvex::Guarded(&form1, [&] { form1.LoadDataFile(*options.data_file); });
  }
  // After the fit (queued below) and its redraw: zoom and save the chart.
  auto finish_chart = [&form1, zoom = options.zoom, save = options.save_chart] {
    morvex::TResultChartView* view = form1.ChartView();
    if (zoom > 0) view->ZoomAround(zoom, view->chart()->plotArea().center());
    if (save) {
      // The chart lays its axes out again from the event loop: save once
      // that is done.
      QTimer::singleShot(500, &form1, [&form1, view, path = QString::fromStdString(*save)] {
        morvex::Guarded(&form1, [&] {
          if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) view->SaveSvg(path);
          else view->SavePng(path);
        });
      });
    }
  };
  if (options.fit) {
    // Once the window is on screen, as if the user had pressed the button.
    // The fit runs beside the window: the report and the chart follow its end.
    QMetaObject::invokeMethod(
        &form1,
        [&form1, name = options.fit, report = options.report, finish_chart] {
          const auto after_fit = [&form1, report, finish_chart] {
            if (report) form1.Button9Click();
            finish_chart();
          };
          const QMetaObject::Connection ended =
              QObject::connect(&form1, &morvex::TForm1::fitFinished, &form1, after_fit, Qt::SingleShotConnection);
          if (auto* button = form1.findChild<QAbstractButton*>(QLatin1String(name))) button->click();
          if (!form1.FitRunning()) {
            QObject::disconnect(ended);
            after_fit();
          }
        },
        Qt::QueuedConnection);
  } else {
    QMetaObject::invokeMethod(&form1, finish_chart, Qt::QueuedConnection);
  }
  return app.exec();
}
