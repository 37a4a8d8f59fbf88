// The fit session without a window: a fit on its own thread from a copy of
// the set, cancelled through the flag it polls, its errors and messages
// handed over at the end; the camber rule's memory and the values that are
// a fit; and the small units beside the window (recent files, the poor-fit
// notice).
#include <QObject>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "fitting/FitReport.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "ui/FitSession.h"
#include "ui/Notices.h"
#include "ui/RecentFiles.h"
#include "ui/tests/UiTests.h"
#include "ui/tests/WindowFixture.h"

namespace morvex::test {

namespace {

TTireDataSet Lateral() { return ReadTireDataFile(DataFile("lateral.plt")); }

bool WaitForEnd(const TFitSession& session) {
  return QTest::qWaitFor([&session] { return !session.Running(); }, 120000);
}

}  // namespace

class TestFitSession : public QObject {
  Q_OBJECT

 private slots:
  // The fit runs on another thread from a copy: the set it started from is
  // never written, the result arrives with fitFinished on this thread.
  void fitRunsOnItsOwnThreadFromACopy() {
    TFitSession session("");
    session.UseData(Lateral(), TFitChannel::kLateral, "lateral.plt");
    std::atomic<bool> other_thread{false};
    session.SetFitRunner([&](TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data, TOptimizerChoice,
                             const std::string&, IFitHost& host) {
      other_thread = QThread::currentThread() != qApp->thread();
      set.SetText("PCy1", "1.4");
      set.SetFree("PHy3", false);
      host.ShowMessage("first");
      host.ShowMessage("second");
      host.SetCostText("0.5");
      TFitOutcome outcome;
      outcome.channel = channel;
      outcome.fitted = {"PCy1"};
      outcome.start_cost = static_cast<double>(data.CaseCount());
      return outcome;
    });
    TMemoryCoefficientSet start;
    start.SetText("PCy1", "1.3");
    QSignalSpy finished(&session, &TFitSession::fitFinished);
    QSignalSpy cost(&session, &TFitSession::costTextChanged);
    QVERIFY(session.StartFit(TFitChannel::kLateral, start, TOptimizerChoice::kTrustRegion));
    QVERIFY(session.Running());
    QVERIFY(!session.StartFit(TFitChannel::kLateral, start, TOptimizerChoice::kTrustRegion));
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!session.Running());
    QVERIFY(other_thread.load());
    QCOMPARE(start.Text("PCy1"), std::string("1.3"));
    QVERIFY(start.Free("PHy3"));
    QCOMPARE(session.FitResult().Text("PCy1"), std::string("1.4"));
    QVERIFY(!session.FitResult().Free("PHy3"));
    QCOMPARE(session.FitStart().texts[static_cast<size_t>(ExactCoefficientIndex("PCy1"))], std::string("1.3"));
    QCOMPARE(session.Outcome().start_cost, static_cast<double>(session.Data().CaseCount()));
    QVERIFY(session.FitError() == nullptr);
    QCOMPARE(session.TakeMessages(), (std::vector<std::string>{"first", "second"}));
    QVERIFY(session.TakeMessages().empty());
    QCOMPARE(cost.count(), 1);
    QCOMPARE(cost.first().first().toString(), QStringLiteral("0.5"));
  }

  // A real fit stops at its next cost evaluation once cancelled, with the
  // best point it had; an error of the fit is handed over, not lost.
  void cancelReachesARealFitAndErrorsAreHandedOver() {
    TFitSession session("");
    session.UseData(Lateral(), TFitChannel::kLateral, "lateral.plt");
    std::atomic<int> polls{0};
    session.SetFitRunner([&](TFitChannel channel, TCoefficientSet& set, const TTireDataSet& data,
                             TOptimizerChoice optimizer, const std::string& settings, IFitHost& host) {
      // Counts the polls; at the 20th it waits until the interface thread
      // has asked the fit to stop, so the fit is surely still running then.
      struct Counting : IFitHost {
        IFitHost& inner;
        std::atomic<int>& polls;
        Counting(IFitHost& i, std::atomic<int>& p) : inner(i), polls(p) {}
        void ShowWaitScreen() override { inner.ShowWaitScreen(); }
        void HideWaitScreen() override { inner.HideWaitScreen(); }
        void SetBusyCursor(bool busy) override { inner.SetBusyCursor(busy); }
        void ShowMessage(const std::string& text) override { inner.ShowMessage(text); }
        void Redraw() override { inner.Redraw(); }
        void SetCostText(const std::string& text) override { inner.SetCostText(text); }
        void Progress(const TFitProgress& progress) override { inner.Progress(progress); }
        bool CancelRequested() override {
          if (++polls == 20)
            while (!inner.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          return inner.CancelRequested();
        }
      } counting(host, polls);
      return RunFitCommand(channel, set, data, optimizer, settings, counting);
    });
    TMemoryCoefficientSet start;
    QVERIFY(session.StartFit(TFitChannel::kLateral, start, TOptimizerChoice::kLevenbergMarquardt));
    QVERIFY(QTest::qWaitFor([&] { return polls.load() >= 20; }, 120000));
    QVERIFY(session.RequestCancel());
    QVERIFY(!session.RequestCancel());  // once is enough
    QVERIFY(WaitForEnd(session));
    QVERIFY(session.FitError() == nullptr);
    QVERIFY(session.Outcome().cancelled);
    QCOMPARE(session.Outcome().termination, TFitTermination::kCancelled);
    QVERIFY(!session.RequestCancel());  // nothing runs

    session.SetFitRunner([](TFitChannel, TCoefficientSet& set, const TTireDataSet&, TOptimizerChoice,
                            const std::string&, IFitHost&) -> TFitOutcome {
      set.SetText("PDy1", "0.9");
      throw std::runtime_error("broken model");
    });
    QVERIFY(session.StartFit(TFitChannel::kLateral, start, TOptimizerChoice::kLevenbergMarquardt));
    QVERIFY(WaitForEnd(session));
    QVERIFY(session.FitError() != nullptr);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, std::rethrow_exception(session.FitError()));
    // What it wrote before the error is there to be kept as one step.
    QCOMPARE(session.FitResult().Text("PDy1"), std::string("0.9"));
  }

  // Destroying the session while a fit runs stops the fit and waits for it.
  void sessionGoneStopsItsFit() {
    std::atomic<bool> started{false}, stopped{false};
    {
      TFitSession session("");
      session.UseData(Lateral(), std::nullopt, "lateral.plt");
      session.SetFitRunner([&](TFitChannel channel, TCoefficientSet&, const TTireDataSet&, TOptimizerChoice,
                               const std::string&, IFitHost& host) {
        started = true;
        while (!host.CancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stopped = true;
        TFitOutcome outcome;
        outcome.channel = channel;
        return outcome;
      });
      TMemoryCoefficientSet start;
      QVERIFY(session.StartFit(TFitChannel::kLateral, start, TOptimizerChoice::kLevenbergMarquardt));
      QVERIFY(QTest::qWaitFor([&] { return started.load(); }, 60000));
    }
    QVERIFY(stopped.load());
  }

  // The camber rule holds what a single-camber fit cleared until data with
  // more than one camber come; new data are no fit of any values.
  void camberHoldAndValuesThatAreAFit() {
    TFitSession session("");
    TTireDataSet single = ReadTireDataFile(DataFile("lateral_single.plt"));
    session.UseData(single, TFitChannel::kLateral, "lateral_single.plt");
    session.HoldByCamberRule({"PHy3", "PVy3"});
    session.HoldByCamberRule({"PVy3", "PKy3"});
    QCOMPARE(session.HeldByCamberRule(), (std::vector<std::string>{"PHy3", "PVy3", "PKy3"}));
    QVERIFY(session.ReleaseCamberHold().empty());  // still one camber
    QCOMPARE(session.HeldByCamberRule().size(), size_t{3});

    TMemoryCoefficientSet set;
    const TCoefficientSnapshot shown = TakeSnapshot(set);
    session.RememberValuesAsFit(TFitChannel::kLateral, shown);
    QVERIFY(session.ValuesAreAFit(TFitChannel::kLateral, shown));
    QVERIFY(!session.ValuesAreAFit(TFitChannel::kAligning, shown));

    session.UseData(Lateral(), TFitChannel::kLateral, "lateral.plt");
    QVERIFY(!session.ValuesAreAFit(TFitChannel::kLateral, shown));
    QCOMPARE(session.ReleaseCamberHold(), (std::vector<std::string>{"PHy3", "PVy3", "PKy3"}));
    QVERIFY(session.HeldByCamberRule().empty());
    QVERIFY(session.ReleaseCamberHold().empty());
  }

  // The recent list: newest first, each file once, at most its capacity,
  // one list per key.
  void recentFilesKeepNewestFirstWithinCapacity() {
    const TRecentFiles files(QStringLiteral("test/recentA"), 3);
    const TRecentFiles other(QStringLiteral("test/recentB"), 3);
    files.Clear();
    other.Clear();
    for (const char* name : {"/data/a.plt", "/data/b.plt", "/data/c.plt", "/data/a.plt", "/data/d.plt"})
      files.Remember(QLatin1String(name));
    QCOMPARE(files.Files(), (QStringList{"/data/d.plt", "/data/a.plt", "/data/c.plt"}));
    QVERIFY(other.Files().isEmpty());
    files.Clear();
    QVERIFY(files.Files().isEmpty());
  }

  // A poor fit with many reasons: the notice shows three and says how many
  // more; the details hold every one with its advice, the advice once.
  void poorFitNoticeShowsTheFirstReasonsAndKeepsTheRest() {
    TFitVerdict verdict;
    verdict.poor = true;
    for (int k = 1; k <= 5; ++k)
      verdict.reasons.push_back({"low-r2", "curve " + std::to_string(k) + " is poor", "add points"});
    QString details;
    const QString text = PoorFitNoticeText(verdict, QStringLiteral(" (RMS 12 N)"), details);
    QVERIFY(text.startsWith(QStringLiteral("Fit poor (RMS 12 N):\n• curve 1 is poor")));
    QVERIFY(text.contains(QStringLiteral("curve 3 is poor")));
    QVERIFY(!text.contains(QStringLiteral("curve 4 is poor")));
    QVERIFY(text.contains(QStringLiteral("and 2 more")));
    QCOMPARE(text.count(QStringLiteral("add points")), 1);
    QVERIFY(details.contains(QStringLiteral("curve 5 is poor\n  try: add points")));

    verdict.reasons.resize(1);
    const QString short_text = PoorFitNoticeText(verdict, QString(), details);
    QVERIFY(details.isEmpty());
    QVERIFY(!short_text.contains(QStringLiteral("more")));
  }
};

static RegisterUiTest<TestFitSession> register_fit_session;

}  // namespace morvex::test

#include "tst_fitsession.moc"
