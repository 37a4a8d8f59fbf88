// Mapping and units: which file column each role is read from, the samples
// of those columns, in the import's units.
#include <algorithm>
#include <cmath>
#include <optional>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

size_t RoleIndex(TRunRole role) { return static_cast<size_t>(role); }

// The column of `header` named `name` (any case), or -1.
long FindColumn(const TRunHeader& header, std::string_view name) {
  const std::string wanted = AsciiUpper(name);
  for (size_t k = 0; k < header.columns.size(); ++k)
    if (AsciiUpper(header.columns[k].name) == wanted) return static_cast<long>(k);
  return -1;
}

std::string ChannelList(const TRunHeader& header) {
  std::string list;
  for (size_t k = 0; k < header.columns.size() && k < 40; ++k)
    list += (k ? ", " : "") + header.columns[k].name;
  if (header.columns.size() > 40) list += ", ...";
  return list;
}

std::string AliasList(const TRunRoleInfo& info) {
  std::string list(info.aliases);
  std::replace(list.begin(), list.end(), ' ', '/');
  return list;
}

}  // namespace

void MapChannels(TImportState& state, std::string_view text) {
  const TRawImportOptions& options = state.options;
  TRawImportResult& result = state.result;
  TImportReport& report = state.report;
  result.header = ReadRunHeader(text, options.read);
  const TRunHeader& header = result.header;
  report.file_title = header.title;
  report.format = header.format;
  for (const std::string& note : header.notes) report.warnings.push_back("The file's " + note + ".");

  // ---- channel map and units
  const TImportChannel channel = options.channel;
  const TRunRole swept = SweptRole(channel), cross = CrossRole(channel), value_role = ValueRole(channel);
  state.swept = swept;
  state.cross = cross;
  state.value = value_role;
  const TRunRole required[] = {swept, TRunRole::kInclination, TRunRole::kLoad, value_role};
  // The roles this import reads: the required ones, then those that help.
  std::vector<TRunRole>& roles = state.roles;
  roles.assign(std::begin(required), std::end(required));
  for (TRunRole r : {cross, TRunRole::kTime, TRunRole::kPressure, TRunRole::kSpeed}) roles.push_back(r);
  // The lateral force tells the sign convention of an aligning-moment
  // import; the force of the other slip tells a warm-up that sweeps it.
  if (channel == TImportChannel::kAligning || channel == TImportChannel::kLongitudinal)
    roles.push_back(TRunRole::kLateralForce);
  if (channel != TImportChannel::kLongitudinal) roles.push_back(TRunRole::kLongitudinalForce);
  for (TRunRole r : state.optional_roles)
    if (std::find(roles.begin(), roles.end(), r) == roles.end()) roles.push_back(r);

  const size_t names_line = header.columns.empty() ? 1 : header.columns[0].line;
  std::array<long, kRunRoleCount>& column_of = state.column_of;
  column_of.fill(-1);
  std::array<double, kRunRoleCount>& unit_factor = state.unit_factor;
  unit_factor.fill(1.0);
  for (TRunRole role : roles) {
    const TRunRoleInfo& info = RoleInfo(role);
    const std::string& given = options.mapping[RoleIndex(role)];
    long column = -1;
    if (!given.empty()) {
      column = FindColumn(header, given);
      if (column < 0)
        throw Exception("Line " + std::to_string(names_line) + ": the run file has no channel '" + given +
                        "', given for the " + std::string(info.label) + "; its channels are " +
                        ChannelList(header));
    } else {
      std::string_view rest = info.aliases;
      while (column < 0 && !rest.empty()) {
        const size_t blank = rest.find(' ');
        column = FindColumn(header, rest.substr(0, blank));
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
      }
    }
    const bool is_required = std::find(std::begin(required), std::end(required), role) != std::end(required);
    if (column < 0) {
      if (is_required)
        throw Exception("Line " + std::to_string(names_line) + ": the run file has no channel for the " +
                        std::string(info.label) + " (looked for " + AliasList(info) + "); its channels are " +
                        ChannelList(header) + ". Name the channel to use for the " + std::string(info.label) +
                        " in the channel mapping");
      continue;
    }
    const TRunColumn& col = header.columns[static_cast<size_t>(column)];
    const std::optional<double> factor = UnitFactor(info.quantity, col.unit);
    if (!factor)
      throw Exception("Line " + std::to_string(col.unit_line) + ", column " +
                      std::to_string(header.format == TRunFormat::kTydex ? 41 : col.column) + ": the unit '" +
                      col.unit + "' of channel " + col.name + " (" + std::string(info.label) +
                      ") cannot be read; known units: " + std::string(KnownUnits(info.quantity)));
    column_of[RoleIndex(role)] = column;
    unit_factor[RoleIndex(role)] = *factor;
  }
  if (!header.has_units)
    report.warnings.push_back(
        "The file has no units row: its channels are taken to be in deg, N, N m, kPa, km/h and s, the slip "
        "ratio as a fraction.");
  auto has = [&](TRunRole r) { return column_of[RoleIndex(r)] >= 0; };

  // ---- the samples of the mapped columns
  std::vector<size_t> wanted;
  std::array<long, kRunRoleCount> slot;
  slot.fill(-1);
  for (TRunRole role : roles) {
    if (!has(role)) continue;
    const auto column = static_cast<size_t>(column_of[RoleIndex(role)]);
    const auto found = std::find(wanted.begin(), wanted.end(), column);
    slot[RoleIndex(role)] = found - wanted.begin();
    if (found == wanted.end()) wanted.push_back(column);
  }
  TRunTable table = ReadRunRows(text, header, wanted, options.read, options.row_limit);
  report.preview = table.truncated;
  report.samples_read = table.rows;
  if (table.rows > std::numeric_limits<TIndex>::max())
    throw Exception("The run holds more than 4 billion samples");

  // Each role's values in the import's units, not yet signed.  Two roles
  // mapped to one column share one copy.
  state.rows = table.rows;
  std::array<std::vector<double>, kRunRoleCount>& data = state.data;
  for (TRunRole role : roles) {
    if (!has(role)) continue;
    std::vector<double>& source = table.values[static_cast<size_t>(slot[RoleIndex(role)])];
    const double factor = unit_factor[RoleIndex(role)];
    const bool shared = std::count_if(roles.begin(), roles.end(), [&](TRunRole r) {
                          return has(r) && slot[RoleIndex(r)] == slot[RoleIndex(role)];
                        }) > 1;
    std::vector<double> values = shared ? source : std::move(source);
    if (factor != 1.0)
      for (double& v : values) v *= factor;
    data[RoleIndex(role)] = std::move(values);
  }
}

}  // namespace morvex::import_phase
