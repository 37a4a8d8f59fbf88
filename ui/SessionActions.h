// The main window's session commands and its validation report, beside the
// window (which only creates this object):
//
//   "Save session…"      Ctrl+Shift+S   objectName SaveSession
//   "Open session…"      Ctrl+Shift+O   objectName OpenSession
//   "Recent sessions"                    objectName RecentSessions (a menu)
//   "Validation report…"                 objectName ValidationReport
//
// They sit in the "Session" button of the status bar (SessionMenuButton)
// and work from the keyboard wherever the focus is.
//
// Saving writes the whole working state as a .morvex file (files/SessionFile.h)
// the same way `morvex-fit fit --save-session` writes it, so each opens the
// other's: the panel's texts and free boxes, the data embedded with its
// source path and hash, the import settings of the run import dialog (and
// the runs, while the data loaded are theirs), the optimizer chosen, each channel's last fit (report
// text, verdict, RMS, and the values it left while they are still shown) and
// the chart's view (page, camber, zoom, residuals, model and data switches,
// hidden legend entries, the colours paired per load, every camber at once)
// and the "Build tire from runs" dialog's programme with its last fit
// (restored into the dialog, which opening makes if needed, without reading
// a run).
//
// Opening first shows what opening will do (DescribeSessionOpening: the
// embedded data used, the paths named and left unread, each channel's
// verdict; whether the sources changed since saving when the user asks the
// dialog to compare them) and opens only when the user agrees.  It never writes a file, never reads a path the session names and
// never runs a fit.  A malformed session is refused with its line and
// reason and nothing of it is used.  The panel's change is one undo step;
// the data it brings replace the data loaded, which undo does not bring back
// (the status bar says so).  Both commands are refused while a fit runs.
//
// The validation report (report/ReportRender.h) covers every channel with a
// last fit in the session, or the page shown when none has one, with the
// data loaded and the coefficients shown, then the programme fitted in
// "Build tire from runs" when there is one; its form follows the file name
// (.pdf, .html, .htm).  A file the window read is never overwritten.
#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "files/SessionFile.h"
#include "files/SessionOpening.h"
#include "fitting/FitCommands.h"

class QAction;
class QDialog;
class QMenu;
class QWidget;

namespace morvex {

class TForm1;

// The dialog that shows the lines of DescribeSessionOpening, warnings
// marked, with "Open" and "Cancel" (objectName SessionOpeningDialog).  With
// `check_sources`, a button "Compare with the files named" (objectName
// SessionCheckSources) replaces the lines by those it gives: the files the
// session names are read (hashed) only when the user asks for it.
QDialog* NewSessionOpeningDialog(QWidget* parent, const QString& session_path,
                                 const std::vector<TSessionOpeningLine>& lines,
                                 std::function<std::vector<TSessionOpeningLine>()> check_sources = {});

class TSessionActions : public QObject {
  Q_OBJECT

 public:
  // Adds the commands to `form` (which owns this object).
  explicit TSessionActions(TForm1* form);

  // The session of the window as it stands.
  TSessionState CaptureState() const;

  // The commands with their file dialogs (IDialogs).
  void SaveSessionClick();
  void OpenSessionClick();
  void ValidationReportClick();

  // The commands on a chosen file.  Save and report raise their errors;
  // open reports them itself and returns whether the session was opened.
  void SaveSession(const std::string& path);
  bool OpenSession(const std::string& path);
  // Opening a session already read from `path`: the same checks, question
  // and changes as OpenSession after its reading.
  bool OpenSessionRead(TSessionRead read, const std::string& path);
  void WriteValidationReport(const std::string& path);

  // Asks whether to open after showing the lines; by default the dialog
  // above, run modally.  Tests answer it themselves.
  // `lines` are those of DescribeSessionOpening without reading any file.
  using TConfirm = std::function<bool(const QString& path, const std::vector<TSessionOpeningLine>&)>;
  void SetConfirm(TConfirm confirm) { confirm_ = std::move(confirm); }

  // The last fit of `channel` kept for the session and the report; none
  // when there is none on the data now loaded.
  std::optional<TSessionChannel> LastFit(TFitChannel channel) const {
    const TChannelFit* fit = CurrentFit(channel);
    return fit != nullptr ? fit->saved : std::nullopt;
  }
  // The menu of sessions opened or saved lately.
  QMenu* BuildRecentMenu(QWidget* parent);

 private:
  struct TChannelFit {
    std::optional<TSessionChannel> saved;
    TFitOutcome outcome;  // the fit's outcome; after an open, its verdict only
    std::string data_hash;  // of the data it was made on (DataHash)
  };
  // A hash of the data the window holds, which tells a fit of other data.
  std::string DataHash() const;
  // The channel's last fit when it was made on the data now loaded.
  const TChannelFit* CurrentFit(TFitChannel channel) const;

  void FitEnded();
  void ApplyState(const TSessionRead& read, const std::string& path);
  bool RefusedWhileFitting(const QString& what);
  void Status(const QString& text);
  // The files the window read: never a report's or a session's output.
  std::vector<std::string> Inputs() const;
  std::string DataSourcePath() const;

  // The data a session brought, kept as they came (text, source, hash)
  // while the window still holds exactly those data.
  const TSessionData* OpenedDataShown() const;

  TForm1* form_;
  std::array<TChannelFit, 3> fits_;
  std::optional<TSessionData> opened_data_;
  // DataHash of the data imported from the runs of the window's import
  // settings; empty when the data loaded did not come from them.
  std::string import_data_hash_;
  // The runs of the programme the last session opened brought, with their
  // hashes, which a save keeps while the dialog lists the same runs.
  std::vector<TSessionRun> opened_programme_runs_;
  // The window's import settings, with their runs only while the data
  // loaded are those the runs gave.
  std::optional<TSessionImport> CurrentImport() const;
  std::string opened_fingerprint_;  // FormatTireData of the data it brought
  TConfirm confirm_;
  const TSessionRead* asking_ = nullptr;  // the session the question is about, while it is asked
};

}  // namespace morvex
