// The core's user-interface hooks as the window fills them: a matrix shown
// in a Qt table, and a core message reaching the window's message box.
#include <QFontMetrics>
#include <QObject>
#include <QTableWidget>
#include <QTest>

#include "numerics/LxFloatMatrix.h"
#include "ui/CoreHooks.h"
#include "ui/tests/UiTests.h"

namespace morvex::test {

class TestCoreHooks : public QObject {
  Q_OBJECT

 private slots:
  void matrixFillsTableWithHeadersAndWidths() {
    QTableWidget table;
    TQtStringGrid grid(&table);
    auto m = CreateMatrix(2, 3);
    m->SetItem(1, 1, 1.5L);
    m->SetItem(2, 3, -123456.25L);
    m->ShowInGrid(grid);

    QCOMPARE(table.columnCount(), 4);
    QCOMPARE(table.rowCount(), 3);
    QCOMPARE(table.item(0, 3)->text(), QStringLiteral("3"));
    QCOMPARE(table.item(2, 0)->text(), QStringLiteral("2"));
    QCOMPARE(table.item(1, 1)->text(), QStringLiteral("1.5"));
    QCOMPARE(table.item(2, 3)->text(), QStringLiteral("-123456.25"));
    const QFontMetrics metrics(table.font());
    QCOMPARE(table.columnWidth(3), metrics.horizontalAdvance(QStringLiteral("-123456.25")) + 30);
  }

  void coreMessageGoesToTheMessageBox() {
    ScriptedDialogs dialogs;
    SetDialogs(&dialogs);
    QWidget owner;
    InstallCoreMessageSink(&owner);
    auto m = CreateMatrix(1, 1);
    std::vector<std::string> lines = {"1", "1", "not a number"};
    QVERIFY_THROWS_EXCEPTION(ELxFloatMatrix, m->LoadFromStrings(lines, 0));
    SetMessageSink(nullptr);
    SetDialogs(nullptr);
    QCOMPARE(dialogs.messages.size(), size_t{1});
    QCOMPARE(dialogs.messages[0], std::string("List of strings had at least one non numeric expression."));
  }
};

namespace {
RegisterUiTest<TestCoreHooks> register_core_hooks;
}

}  // namespace morvex::test

#include "tst_corehooks.moc"
