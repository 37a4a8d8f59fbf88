#include "ui/TirChoices.h"

#include <filesystem>
#include <algorithm>
#include <map>
#include <sstream>

#include "files/CoefficientFile.h"
#include "files/SignConvention.h"
#include "files/TirFile.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "ui/Dialogs.h"

namespace morvex {

namespace {

struct TRecordedFit {
  std::string data_file;
  std::string text;
  TTirRanges ranges;
};

std::map<TFitChannel, TRecordedFit>& RecordedFits() {
  static std::map<TFitChannel, TRecordedFit> fits;
  return fits;
}

enum class TFileType { kCoefficientFile, kPropertyFile };

// The type by the extension, else by the selected filter; `path` gets
// ".tir" when the property-file filter chose the type of a name without
// extension.
TFileType TypeOf(std::string& path, const std::string& selected_filter, bool saving) {
  const std::string extension = AsciiLower(std::filesystem::path(path).extension().string());
  if (extension == ".tir") return TFileType::kPropertyFile;
  if (extension == ".txt" || extension == ".text") return TFileType::kCoefficientFile;
  if (selected_filter.find("*.tir") == std::string::npos) return TFileType::kCoefficientFile;
  if (saving && extension.empty()) path += ".tir";
  return TFileType::kPropertyFile;
}

// Asks for the convention of the panel's set; nullopt when cancelled.
std::optional<TSignConvention> AskConvention(QWidget* parent, const std::string& title, TSignConvention preselected,
                                             const std::string& question) {
  const std::vector<std::string> items = {
      "positive-stiffness: positive slip angle gives positive Fy (PKy1 > 0)",
      "iso: ISO / TYDEX W-axis, positive slip angle gives negative Fy (PKy1 < 0)"};
  const auto chosen = Dialogs().ChooseItem(parent, title, question, items,
                                       preselected == TSignConvention::kPositiveStiffness ? 0 : 1);
  if (!chosen) return std::nullopt;
  return *chosen == 1 ? TSignConvention::kIso : TSignConvention::kPositiveStiffness;
}

void ShowNotes(QWidget* parent, const std::string& intro, const std::vector<std::string>& notes) {
  std::string text = intro;
  for (const std::string& note : notes) text += "\n\n" + note;
  Dialogs().Message(parent, text);
}

}  // namespace

void RecordFitForExport(const TFitReport& report, const std::string& data_file,
                        const TTireDataSet& data) {
  TTirRanges ranges;
  AddDataRanges(ranges, data, report.channel != TFitChannel::kLongitudinal);
  RecordedFits()[report.channel] = {data_file, FitSummaryLine(report), ranges};
}

void ClearRecordedFits() { RecordedFits().clear(); }

std::any SaveRecordedFits() { return RecordedFits(); }

void ForgetRecordedFit(TFitChannel channel) { RecordedFits().erase(channel); }

void RestoreRecordedFits(const std::any& fits) {
  using TFits = std::map<TFitChannel, TRecordedFit>;
  const TFits* saved = std::any_cast<TFits>(&fits);
  RecordedFits() = saved != nullptr ? *saved : TFits();
}

void ExportCoefficientsCommand(QWidget* parent, const TCoefficientSet& set, std::string* chosen) {
  auto choice = Dialogs().SaveFileOfType(parent, "Export to file", kExportFilter);
  if (!choice) return;
  std::string path = choice->path;
  if (chosen != nullptr) *chosen = path;
  if (TypeOf(path, choice->selected_filter, true) == TFileType::kCoefficientFile) {
    // A bare name gets the extension that the import dialog lists.
    if (std::filesystem::path(path).extension().empty()) path += ".txt";
    if (chosen != nullptr) *chosen = path;
    ExportCoefficients(set, path);
    return;
  }
  if (chosen != nullptr) *chosen = path;
  const auto convention = AskConvention(parent, "Export to file", ConventionOfSet(set),
                                        "Sign convention of the coefficients in the panel (the file is ISO):");
  if (!convention) return;
  TTirExportOptions options;
  options.convention = convention;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) options.template_path = path;
  std::string data_file;
  for (const auto& [channel, fit] : RecordedFits()) {
    options.info.fits.push_back(fit.text);
    auto merge = [](std::optional<std::pair<double, double>>& into, const std::optional<std::pair<double, double>>& r) {
      if (!r) return;
      into = into ? std::pair<double, double>{std::min(into->first, r->first), std::max(into->second, r->second)} : *r;
    };
    merge(options.info.ranges.load, fit.ranges.load);
    merge(options.info.ranges.slip_angle, fit.ranges.slip_angle);
    merge(options.info.ranges.slip_ratio, fit.ranges.slip_ratio);
    merge(options.info.ranges.camber, fit.ranges.camber);
    if (data_file.find(fit.data_file) == std::string::npos)
      data_file += (data_file.empty() ? "" : "; ") + fit.data_file;
  }
  options.info.data_file = data_file;
  const TTirExportResult result = ExportTir(set, path, options);
  ShowNotes(parent, "Wrote the property file " + path + ".", result.notes);
}

void ImportCoefficientsCommand(QWidget* parent, TCoefficientSet& set, std::string* chosen) {
  auto choice = Dialogs().OpenFileOfType(parent, "Import MF model", kImportFilter);
  if (!choice) return;
  std::string path = choice->path;
  if (chosen != nullptr) *chosen = path;
  if (TypeOf(path, choice->selected_filter, false) == TFileType::kCoefficientFile) {
    const TCoefficientImportResult result = ImportCoefficients(set, path);
    if (!result.notes.empty()) ShowNotes(parent, "Imported the coefficient file " + path + ".", result.notes);
    return;
  }
  const auto convention = AskConvention(parent, "Import MF model", ConventionOfSet(set),
                                        "Sign convention for the panel (the file is ISO):");
  if (!convention) return;
  TTirReadOptions options;
  options.convention = convention;
  // Published evaluators read the trail of a file with LFZO other than 1
  // two ways: the user picks, the book's reading preselected.
  if (const std::optional<double> lfzo = TirLoadScale(path)) {
    const std::vector<std::string> items = {"book: " + DescribeTrailReading(TTrailReading::kBook),
                                            "fnomin: " + DescribeTrailReading(TTrailReading::kUnscaledLoad)};
    const auto reading = Dialogs().ChooseItem(
        parent, "Import MF model",
        "The file scales the rated load by LFZO = " + TirNumber(*lfzo) +
            ". Published evaluators read its aligning trail two ways (Fx and Fy are the same); read it as:",
        items, 0);
    if (!reading) return;
    options.trail = *reading == 1 ? TTrailReading::kUnscaledLoad : TTrailReading::kBook;
  }
  const TTirImportResult result = ImportTir(set, path, options);
  ShowNotes(parent, "Imported the property file " + path + ".", result.notes);
}

}  // namespace morvex
