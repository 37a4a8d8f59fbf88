#include "ui/Notices.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QStatusBar>
#include <QStringList>

#include <algorithm>

#include "ui/FitReportWindow.h"

namespace morvex {

namespace {

// Reasons and pieces of advice a poor-fit notice shows before its details.
constexpr qsizetype kNoticeReasons = 3;

}  // namespace

void ShowStatusMessage(QStatusBar* bar, const QString& text, int timeout_ms, int reserved) {
  QString shown = text;
  if (bar->isVisible()) {
    const int room = bar->contentsRect().width() - 12 - reserved;
    shown = bar->fontMetrics().elidedText(text, Qt::ElideRight, std::max(room, 40));
  }
  bar->showMessage(shown, timeout_ms);
  bar->setToolTip(shown == text ? QString() : text);
}

void ShowNotice(QWidget* parent, const QString& text, bool warning, const QString& details) {
  if (auto* old = parent->findChild<QMessageBox*>(QStringLiteral("VerdictNotice"))) {
    old->setObjectName(QString());
    old->close();
  }
  auto* box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, QStringLiteral("Morvex"),
                              text, QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("VerdictNotice"));
  if (!details.isEmpty()) box->setDetailedText(details);
  box->setWindowModality(Qt::NonModal);
  box->setModal(false);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

QString PoorFitNoticeText(const TFitVerdict& verdict, const QString& rms, QString& details_out) {
  // A fit that went far wrong can have a reason for every coefficient: the
  // notice shows the first few reasons and the distinct advice, and keeps
  // the whole list under its details, so that it always fits the screen.
  const std::vector<TVerdictReason>& reasons = verdict.reasons;
  QStringList shown, advice, details;
  for (const TVerdictReason& reason : reasons) {
    const QString text = QString::fromStdString(reason.text);
    const QString try_this = QString::fromStdString(reason.advice);
    if (shown.size() < kNoticeReasons) shown << QStringLiteral("• ") + text;
    if (!try_this.isEmpty() && !advice.contains(try_this)) advice << try_this;
    details << QStringLiteral("• ") + text + (try_this.isEmpty() ? QString() : QStringLiteral("\n  try: ") + try_this);
  }
  QString text = reasons.empty() ? VerdictInWords(verdict).insert(QStringLiteral("Fit poor").size(), rms)
                                 : QStringLiteral("Fit poor") + rms + QStringLiteral(":\n") + shown.join(QLatin1Char('\n'));
  if (static_cast<qsizetype>(reasons.size()) > shown.size())
    text += QStringLiteral("\n… and %1 more (Show Details, or the fit report)").arg(static_cast<qsizetype>(reasons.size()) - shown.size());
  if (!advice.isEmpty()) text += QStringLiteral("\nWhat to try:");
  for (qsizetype k = 0; k < advice.size() && k < kNoticeReasons; ++k) text += QStringLiteral("\n– ") + advice[k];
  const bool cut = static_cast<qsizetype>(reasons.size()) > shown.size() || advice.size() > kNoticeReasons;
  details_out = cut ? details.join(QLatin1Char('\n')) : QString();
  return text;
}

}  // namespace morvex
