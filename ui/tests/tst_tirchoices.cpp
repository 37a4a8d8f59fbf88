// "Export to file" and "Import MF model" with property files (.tir): the
// type by extension or selected filter, the sign-convention choice, the
// messages, and the .txt behaviour kept as it was.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>

#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"
#include "ui/Popcalcul.h"
#include "ui/TirChoices.h"
#include "ui/Unit1.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

// Answers the typed file dialogs with a path and a selected filter, and the
// choice box with a scripted index.
class TypedDialogs final : public IDialogs {
 public:
  std::deque<std::optional<TFileChoice>> files;
  std::deque<std::optional<int>> choices;
  std::vector<int> preselected;
  std::vector<std::string> messages;

  std::optional<std::string> OpenFile(QWidget*, const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> SaveFile(QWidget*, const std::string&, const std::string&) override { return {}; }
  std::optional<TFileChoice> OpenFileOfType(QWidget*, const std::string&, const std::string&) override { return Next(); }
  std::optional<TFileChoice> SaveFileOfType(QWidget*, const std::string&, const std::string&) override { return Next(); }
  std::optional<int> ChooseItem(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&,
                            int preselect) override {
    preselected.push_back(preselect);
    if (choices.empty()) return preselect;
    auto answer = choices.front();
    choices.pop_front();
    return answer;
  }
  void Message(QWidget*, const std::string& text) override { messages.push_back(text); }

 private:
  std::optional<TFileChoice> Next() {
    if (files.empty()) return std::nullopt;
    auto answer = files.front();
    files.pop_front();
    return answer;
  }
};

std::string ReadText(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

class TestTirChoices : public QObject, TWindowFixture {
  Q_OBJECT

  TypedDialogs dialogs_;

 private slots:
  void init() {
    dialogs_ = TypedDialogs();
    ClearRecordedFits();
    QVERIFY(OpenWindow(dialogs_, true, false));
  }

  void cleanup() { CloseWindow(); }

  void exportByFilterThenImportByExtension() {
    const QString pky1 = Edit("PKy1")->text();
    QVERIFY(pky1.toDouble() > 0);
    // A name without extension with the .tir filter selected.
    dialogs_.files.push_back(IDialogs::TFileChoice{dir_->filePath(QStringLiteral("car")).toStdString(), ".tir (*.tir)"});
    Click("Button4");
    const QString written = dir_->filePath(QStringLiteral("car.tir"));
    QVERIFY(QFile::exists(written));
    QCOMPARE(dialogs_.preselected, std::vector<int>{0});  // positive-stiffness, from the sign of PKy1
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QVERIFY(dialogs_.messages[0].find("were negated") != std::string::npos);
    const std::string text = ReadText(written);
    QVERIFY(text.rfind("$ Morvex: ", 0) == 0);
    QVERIFY(text.find("PKY1                      = -") != std::string::npos);

    Edit("PKy1")->setText(QStringLiteral("3"));
    Edit("PCy1")->setText(QStringLiteral("9"));
    dialogs_.files.push_back(IDialogs::TFileChoice{written.toStdString(), ""});
    Click("Button5");
    QCOMPARE(Edit("PKy1")->text(), pky1);  // back in the panel's convention
    QVERIFY(Edit("PCy1")->text() != QStringLiteral("9"));
    QCOMPARE(dialogs_.messages.size(), size_t(2));
    QVERIFY(dialogs_.messages[1].find("positive-stiffness") != std::string::npos);

    // Read as ISO on request.
    dialogs_.files.push_back(IDialogs::TFileChoice{written.toStdString(), ""});
    dialogs_.choices.push_back(1);
    Click("Button5");
    QCOMPARE(Edit("PKy1")->text(), QStringLiteral("-") + pky1);
  }

  void coefficientFileKeepsItsBehaviour() {
    // The .txt filter and a name without extension: the INI file, with the
    // ".txt" the import dialog lists.
    const QString bare = dir_->filePath(QStringLiteral("set"));
    const QString path = bare + QStringLiteral(".txt");
    dialogs_.files.push_back(IDialogs::TFileChoice{bare.toStdString(), ".txt (*.txt)"});
    Click("Button4");
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(bare));
    QVERIFY(ReadText(path).rfind("[TIRE RADIUS]\n", 0) == 0);
    QVERIFY(dialogs_.messages.empty());
    QVERIFY(dialogs_.preselected.empty());
  }

  void headerNamesTheFitOfTheCoefficientsWritten() {
    // Each "fit" writes its own PCy1 so that the two states differ.
    double next_pcy1 = 1.3;
    form_->SetFitRunner([&](TFitChannel channel, TCoefficientSet& set, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) {
      set.SetText("PCy1", std::to_string(next_pcy1));
      TFitOutcome outcome;
      outcome.channel = channel;
      return outcome;
    });
    const auto exported = [&](const char* name) {
      const QString path = dir_->filePath(QLatin1String(name));
      dialogs_.files.push_back(IDialogs::TFileChoice{path.toStdString(), ""});
      Click("Button4");
      return path;
    };
    // The header's lines about the data and the fits.
    const auto provenance = [&](const QString& path) {
      std::istringstream in(ReadText(path));
      std::string lines;
      for (std::string line; std::getline(in, line);)
        if (line.find("data file: ") != std::string::npos || line.find("fit: ") != std::string::npos ||
            line.find("channels fitted: ") != std::string::npos)
          lines += line + "\n";
      return lines;
    };

    // A run imported under its own label, fitted.
    form_->UseImportedData(ReadTireDataFile(DataFile("lateral_single.plt")), "run-a.dat (imported)");
    Fit("Button1");
    const std::string first = provenance(exported("first.tir"));
    QVERIFY(first.find("data file: run-a.dat (imported)") != std::string::npos);
    QVERIFY(first.find("fit: lateral") != std::string::npos);

    // Another file, fitted to other values.
    form_->LoadDataFile(DataFile("lateral.plt"));
    next_pcy1 = 1.6;
    Fit("Button1");
    const std::string second = provenance(exported("second.tir"));
    QVERIFY(second.find("lateral.plt") != std::string::npos);
    QVERIFY(second.find("run-a.dat") == std::string::npos);
    QVERIFY(second != first);

    // Undo: the file names the first fit again, and redo the second.
    form_->Undo();
    QCOMPARE(Edit("PCy1")->text().toDouble(), 1.3);
    QCOMPARE(provenance(exported("undone.tir")), first);
    form_->Redo();
    QCOMPARE(provenance(exported("redone.tir")), second);

    // Coefficients imported from elsewhere came from no fit of this session;
    // the import confirms in the status bar, and undo brings the fit back.
    Edit("PCy1")->setText(QStringLiteral("1.3"));
    dialogs_.files.push_back(IDialogs::TFileChoice{dir_->filePath(QStringLiteral("second.tir")).toStdString(), ""});
    Click("Button5");
    QVERIFY(form_->statusBar()->currentMessage().startsWith(QStringLiteral("Imported from second.tir: ")));
    const std::string imported = provenance(exported("imported.tir"));
    QVERIFY(imported.find("channels fitted: none recorded") != std::string::npos);
    QVERIFY(imported.find("lateral.plt") == std::string::npos);
    form_->Undo();
    QCOMPARE(provenance(exported("import-undone.tir")), second);
  }

  void refusedPropertyFileChangesNothing() {
    const QString pcy1 = Edit("PCy1")->text();
    for (const char* text : {"", "no sections in here\n", "[MODEL]\nFITTYP = 6\n[LATERAL_COEFFICIENTS]\nPCY1 = 1.1\n"}) {
      const QString path = dir_->filePath(QStringLiteral("bad.tir"));
      std::ofstream(path.toStdString(), std::ios::binary) << text;
      dialogs_.messages.clear();
      dialogs_.files.push_back(IDialogs::TFileChoice{path.toStdString(), ""});
      Click("Button5");
      QCOMPARE(dialogs_.messages.size(), size_t(1));
      const std::string& message = dialogs_.messages[0];
      QVERIFY2(message.find("is empty") != std::string::npos || message.find("no section line") != std::string::npos ||
                   message.find("lacks FNOMIN, UNLOADED_RADIUS") != std::string::npos,
               message.c_str());
      QCOMPARE(Edit("PCy1")->text(), pcy1);
    }
  }

  void fileWithLfzoAsksHowToReadTheTrail() {
    const QString path = dir_->filePath(QStringLiteral("scaled.tir"));
    dialogs_.files.push_back(IDialogs::TFileChoice{path.toStdString(), ""});
    Click("Button4");
    std::string text = ReadText(path);
    const std::string unit_factor = "LFZO                      = 1\n";
    const size_t at = text.find(unit_factor);
    QVERIFY(at != std::string::npos);
    text.replace(at, unit_factor.size(), "LFZO = 0.5\n");
    std::ofstream(path.toStdString(), std::ios::binary) << text;
    const double qdz1 = Edit("QDz1")->text().toDouble(), fz0 = Edit("Fz0")->text().toDouble();

    // Cancelled at the trail question: nothing is read.
    dialogs_.preselected.clear();
    dialogs_.files.push_back(IDialogs::TFileChoice{path.toStdString(), ""});
    dialogs_.choices = {0, std::nullopt};
    Click("Button5");
    QCOMPARE(dialogs_.preselected, (std::vector<int>{0, 0}));  // the book's reading preselected
    QCOMPARE(Edit("Fz0")->text().toDouble(), fz0);

    // The other reading: FNOMIN*LFZO is Fz0, and the trail keeps R0/FNOMIN.
    dialogs_.messages.clear();
    dialogs_.files.push_back(IDialogs::TFileChoice{path.toStdString(), ""});
    dialogs_.choices = {0, 1};
    Click("Button5");
    QCOMPARE(Edit("Fz0")->text().toDouble(), fz0 * 0.5);
    QVERIFY(std::fabs(Edit("QDz1")->text().toDouble() - qdz1 * 0.5) <= 1e-12 * std::fabs(qdz1));
    QCOMPARE(dialogs_.messages.size(), size_t(1));
    QVERIFY(dialogs_.messages[0].find("read as R0/FNOMIN") != std::string::npos);
  }

  void cancelledChoiceWritesNothing() {
    dialogs_.files.push_back(IDialogs::TFileChoice{dir_->filePath(QStringLiteral("x.tir")).toStdString(), ""});
    dialogs_.choices.push_back(std::nullopt);
    Click("Button4");
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("x.tir"))));
    QVERIFY(dialogs_.messages.empty());
  }
};

namespace {
RegisterUiTest<TestTirChoices> register_tir_choices;
}

}  // namespace morvex::test

#include "tst_tirchoices.moc"
