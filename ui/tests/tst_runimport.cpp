// The import of measured runs in the window: the dialog on the example run
// of examples/, and the main window's data set, which changes only when the
// dialog is accepted.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "tiredata/TireDataFile.h"
#include "ui/RunImportDialog.h"
#include "ui/Unit1.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

const std::string kExampleRun = std::string(MORVEX_TEST_DATA_DIR) + "/../../../examples/run.dat";

}  // namespace

class TestRunImport : public QObject, TWindowFixture {
  Q_OBJECT

  ScriptedDialogs dialogs_;
  // Clicks `button` of the import dialog once it is shown modally.
  void AnswerDialog(const char* button, QString* report = nullptr) {
    QTimer::singleShot(0, [button, report] {
      auto* dialog = qobject_cast<TRunImportDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      if (report) *report = dialog->ReportText();
      if (QString::fromLatin1(button) == QStringLiteral("btnImportAccept")) {
        // The recording begins with a warm-up.
        auto* warmup = dialog->findChild<QLineEdit*>(QStringLiteral("edtWarmup"));
        warmup->setText(QStringLiteral("30"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnImportUpdate")), Qt::LeftButton);
      }
      QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    });
  }

 private slots:
  void init() {
    dialogs_ = ScriptedDialogs();
    QVERIFY(OpenWindow(dialogs_, false));
  }

  void cleanup() { CloseWindow(); }

  void dialogShowsReportAdviceAndPreview() {
    TMemoryCoefficientSet set;
    TRunImportDialog dialog(kExampleRun, set, TFitChannel::kLateral);
    QVERIFY(dialog.ReportText().contains(QStringLiteral("Samples read: 6180")));
    QVERIFY(dialog.ReportText().contains(QStringLiteral("SAE")));
    QCOMPARE(dialog.Data().Cases.size(), size_t{3});
    QVERIFY(dialog.AdviceText().contains(QStringLiteral("Clear these boxes before fitting")));
    QVERIFY(dialog.findChild<QPushButton*>(QStringLiteral("btnImportAccept"))->isEnabled());
    // Raw samples and binned curve per load.
    QCOMPARE(dialog.findChild<QChartView*>(QStringLiteral("ImportChart"))->chart()->series().size(), 8);

    // One inclination: the advice names the camber coefficients.
    dialog.findChild<QLineEdit*>(QStringLiteral("edtInclinations"))->setText(QStringLiteral("2"));
    dialog.UpdateImport();
    QCOMPARE(dialog.Data().Cases.size(), size_t{1});
    QVERIFY2(dialog.AdviceText().contains(QStringLiteral("PHy3: the data holds one camber angle")),
             qPrintable(dialog.AdviceText()));

    // A choice that empties the import disables acceptance and says why.
    dialog.findChild<QComboBox*>(QStringLiteral("cbImportChannel"))->setCurrentIndex(2);
    dialog.findChild<QLineEdit*>(QStringLiteral("edtMaxSlipAngle"))->setText(QStringLiteral("0"));
    dialog.UpdateImport();
    QVERIFY(dialog.Data().Empty());
    QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("btnImportAccept"))->isEnabled());
    QVERIFY2(dialog.findChild<QLabel*>(QStringLiteral("ImportStatus"))->text().startsWith(QStringLiteral("Nothing usable remains: ")),
             qPrintable(dialog.findChild<QLabel*>(QStringLiteral("ImportStatus"))->text()));

    // A field that is not a number is reported, not thrown.
    dialog.findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->setText(QStringLiteral("soon"));
    dialog.UpdateImport();
    QVERIFY(dialog.ReportText().contains(QStringLiteral("Warm-up: 'soon' is not a number")));

    // Saving writes a file the data reader loads.
    dialog.findChild<QLineEdit*>(QStringLiteral("edtWarmup"))->setText(QStringLiteral("30"));
    dialog.findChild<QLineEdit*>(QStringLiteral("edtMaxSlipAngle"))->setText(QStringLiteral("0.3"));
    dialog.UpdateImport();
    const std::string saved = dir_->filePath(QStringLiteral("saved.plt")).toStdString();
    dialogs_.answers.push_back(saved);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnImportSave")), Qt::LeftButton);
    QCOMPARE(ReadTireDataFile(saved).Cases.size(), size_t{1});

    // Using the data after a preview imports the whole run first.
    auto* preview = dialog.findChild<QCheckBox*>(QStringLiteral("chkImportPreview"));
    QVERIFY(!preview->isChecked());  // a small file opens whole
    preview->setChecked(true);
    QVERIFY(!dialog.Data().Empty());
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnImportAccept")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!preview->isChecked());
    QVERIFY(!dialog.ReportText().contains(QStringLiteral("preview")));
  }

  void acceptedImportBecomesTheDataSet() {
    auto* button = form_->findChild<QPushButton*>(QStringLiteral("ButtonImportRun"));
    QVERIFY(button != nullptr);
    // Right above "Load tire data", as wide as it.
    const auto* load = form_->findChild<QPushButton*>(QStringLiteral("Button2"));
    QCOMPARE(button->geometry(), QRect(load->x(), 1, load->width(), 21));

    // Cancelled: nothing changes.
    dialogs_.answers.push_back(kExampleRun);
    AnswerDialog("btnImportCancel");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(form_->DataSet().Empty());

    // Accepted: the binned data, shown as a loaded file would be.
    dialogs_.answers.push_back(kExampleRun);
    QString report;
    AnswerDialog("btnImportAccept", &report);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(form_->DataSet().Cases.size(), size_t{3});
    QCOMPARE(form_->SelectedCase(), 0);
    QVERIFY(form_->StatusText(1).endsWith(QStringLiteral("run.dat (imported, lateral)")));
    QVERIFY(!form_->Chart()->series().isEmpty());
    QVERIFY(report.contains(QStringLiteral("Samples read")));

    // A run file that cannot be read: its message, and the data stay.
    const QString bad = dir_->filePath(QStringLiteral("bad.dat"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1 2 3\n4 5 6\n");
    file.close();
    // The dialog opens on a readable file whose rows make no import: its
    // report says why, and cancelling leaves the data.
    dialogs_.answers.push_back(bad.toStdString());
    AnswerDialog("btnImportCancel", &report);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY2(report.contains(QStringLiteral("Line 1: the run file starts with numbers")), qPrintable(report));
    QCOMPARE(form_->DataSet().Cases.size(), size_t{3});
    QVERIFY(form_->StatusText(1).endsWith(QStringLiteral("run.dat (imported, lateral)")));
    // A file that cannot be opened: its message box, and the data stay.
    dialogs_.answers.push_back(dir_->filePath(QStringLiteral("missing.dat")).toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialogs_.messages.size(), size_t{1});
    QCOMPARE(form_->DataSet().Cases.size(), size_t{3});
  }
};

namespace {
RegisterUiTest<TestRunImport> register_run_import;
}

}  // namespace morvex::test

#include "tst_runimport.moc"
