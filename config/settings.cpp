#include "config/settings.h"

#include <array>
#include <string_view>

#include "config/device_table.h"
#include "config/private_profile.h"
#include "engine/module_slot.h"
#include "engine/notifications.h"
#include "engine/run_control.h"
#include "platform/atol_number.h"
#include "platform/executable_dir.h"
#include "platform/files.h"
#include "platform/utf8_path.h"

namespace config {

namespace {

constexpr std::array<const char*, engine::kModuleCount> kOrdinals = {"First",  "Second", "Third",
                                                                     "Fourth", "Fifth",  "Sixth"};

// The `enable` keys of the sections Firmware, Script, BuckupRestore (default "1") and EraseEFS
// (default "0") are left in the file for hand editing; nothing in the system depends on them, so
// they are not read.

bool valid_module(int module) {
  return module >= 0 && module < engine::kModuleCount;
}

bool valid_kind(int kind) {
  return kind == kAtPortKind || kind == kDiagPortKind;
}

std::string port_section(int module, int kind) {
  return std::string(kind == kAtPortKind ? "ATPort_" : "DiagPort_") + kOrdinals[module];
}

int32_t& port_of(engine::ModuleSlot& slot, int kind) {
  return kind == kAtPortKind ? slot.atPort : slot.diagPort;
}

// The settings file of the working directory as it is now.
ProfileText current_settings(const std::string& directory, const char* caller) {
  if (directory.empty()) {
    engine::debug_trace("%s the working directory is unknown; defaults used.", caller);
    return ProfileText();
  }
  return read_profile_file(settings_path_in(directory));
}

// A value as the 260-byte reader sees it.
std::string value_of(const ProfileText& settings, std::string_view section, std::string_view key,
                     std::string_view default_value) {
  return profile_string(settings, section, key, default_value);
}

// The `Path` value, as UTF-8 where the system's paths are text (a path written in the ANSI code
// page is converted). One longer than a path can be here is not used at all: cut, it would name a
// different file.
std::string path_value(const ProfileText& settings, const char* caller) {
  const std::string path =
      platform::outside_path_text(settings.find("FilePath", "Path").value_or(""));
  if (path.size() <= kMaxPathLength) return path;
  engine::debug_trace("%s Path of %zu characters is too long and is not used.", caller,
                      path.size());
  return {};
}

int32_t sleep_time_value(const ProfileText& settings) {
  int64_t ms = platform::atol_number(value_of(settings, "FilePath", "SleepTime", "8000"));
  if (ms >= 0 && ms <= kMaxSleepTime) return static_cast<int32_t>(ms);
  int32_t used = ms < 0 ? 0 : kMaxSleepTime;
  engine::debug_trace("LoadFilePath() SleepTime %lld is out of range; %d ms used.",
                      static_cast<long long>(ms), used);
  return used;
}

bool write_setting(const std::string& directory, std::string_view section, std::string_view key,
                   std::string_view value) {
  return write_private_profile_string(section, key, value, settings_path_in(directory));
}

}  // namespace

std::string settings_path_in(const std::string& directory) {
  if (directory.empty()) return {};
  const bool separated =
      std::string_view(platform::kPathSeparators).find(directory.back()) != std::string_view::npos;
  return directory + (separated ? "" : "/") + kSettingsFileName;
}

std::array<ModulePorts, 6> read_module_ports(const std::string& directory) {
  static_assert(engine::kModuleCount == 6);
  const ProfileText settings = current_settings(directory, "read_module_ports()");
  std::array<ModulePorts, 6> ports;
  for (int k = 0; k < engine::kModuleCount; ++k) {
    ports[k].at =
        platform::atol_int32(value_of(settings, port_section(k, kAtPortKind), "number", "0"));
    ports[k].diag =
        platform::atol_int32(value_of(settings, port_section(k, kDiagPortKind), "number", "0"));
  }
  return ports;
}

int load_settings() {
  const std::string directory = platform::working_directory();
  const ProfileText settings = current_settings(directory, "load_settings()");
  const std::string path = path_value(settings, "load_settings()");
  const int32_t only_upgrade_script =
      platform::atol_int32(value_of(settings, "OnlyUpgradeScript", "enable", "0")) == 1 ? 1 : 0;
  const int32_t select_type = platform::atol_int32(value_of(settings, "SeLectType", "enable", "0"));
  const int32_t identify =
      platform::atol_number(value_of(settings, "Station", "Identify", "0")) != 0 ? 1 : 0;

  auto& table = engine::slots();
  if (engine::reinitialise_slots() > 0) {
    for (const engine::ModuleSlot& slot : table)
      if (engine::worker_in_progress(slot))
        engine::debug_trace("load_settings() Module%d is running; its run is left as it is.",
                            slot.number());
  }
  for (int k = 0; k < engine::kModuleCount; ++k) {
    engine::ModuleSlot& slot = table[k];
    slot.workDir = directory;
    slot.filePath = path;
    slot.atPort =
        platform::atol_int32(value_of(settings, port_section(k, kAtPortKind), "number", "0"));
    slot.diagPort =
        platform::atol_int32(value_of(settings, port_section(k, kDiagPortKind), "number", "0"));
    slot.onlyUpgradeScript = only_upgrade_script;
    slot.selectType = select_type;
    slot.identify = identify;
  }
  return read_cfgini_file();
}

std::string LoadFilePath() {
  const ProfileText settings = current_settings(platform::working_directory(), "LoadFilePath()");
  const std::string path = path_value(settings, "LoadFilePath()");
  const int32_t sleep_time = sleep_time_value(settings);
  for (engine::ModuleSlot& slot : engine::slots()) {
    slot.filePath = path;
    slot.sleepTime = sleep_time;
  }
  return path;
}

bool SaveFilePath(const std::string& path) {
  return write_setting(platform::working_directory(), "FilePath", "Path", path);
}

bool save_port_setting(int module, int kind, int n) {
  if (!valid_module(module) || !valid_kind(kind)) return false;
  return write_setting(engine::slots()[module].workDir, port_section(module, kind), "number",
                       std::to_string(n));
}

void release_duplicate_port(int module, int kind, int n) {
  if (!valid_module(module) || !valid_kind(kind) || n == 0) return;
  auto& table = engine::slots();
  const std::string directory = table[module].workDir;
  bool changed = false;
  for (int j = 0; j < engine::kModuleCount; ++j) {
    if (j == module || port_of(table[j], kind) != n) continue;
    port_of(table[j], kind) = 0;
    write_setting(directory, port_section(j, kind), "number", "");
    changed = true;
  }
  if (changed) engine::send_to_main_window(engine::WM_PORTS_CHANGED, 0, 0);
}

bool save_only_upgrade_script_option(int value) {
  return write_setting(engine::slots()[0].workDir, "OnlyUpgradeScript", "enable",
                       value != 0 ? "1" : "0");
}

bool save_select_type_option(int value) {
  return write_setting(engine::slots()[0].workDir, "SeLectType", "enable", value != 0 ? "1" : "0");
}

bool load_start_on_plug_in() {
  const ProfileText settings =
      current_settings(platform::working_directory(), "load_start_on_plug_in()");
  return platform::atol_number(value_of(settings, "Station", "StartOnPlugIn", "0")) != 0;
}

int64_t load_rearm_seconds() {
  const ProfileText settings =
      current_settings(platform::working_directory(), "load_rearm_seconds()");
  const std::string text = value_of(settings, "Station", "ReArmSeconds", "");
  if (text.empty()) return kDefaultReArmSeconds;
  const int64_t seconds = platform::atol_number(text);
  if (seconds >= 1 && seconds <= kMaxReArmSeconds) return seconds;
  const int64_t used = seconds < 1 ? kDefaultReArmSeconds : kMaxReArmSeconds;
  engine::debug_trace("load_rearm_seconds() ReArmSeconds %s is out of range; %lld s used.",
                      text.c_str(), static_cast<long long>(used));
  return used;
}

station::LineRecordSettings load_line_record_settings() {
  const ProfileText settings =
      current_settings(platform::working_directory(), "load_line_record_settings()");
  // A connection string may be longer than the usual value (several hosts, options, a service).
  constexpr size_t kConnectionCapacity = 4096;
  return {profile_string(settings, "Station", "Database", "", kConnectionCapacity),
          value_of(settings, "Station", "Name", "")};
}

bool save_start_on_plug_in(bool on) {
  return write_setting(platform::working_directory(), "Station", "StartOnPlugIn", on ? "1" : "0");
}

}  // namespace config
