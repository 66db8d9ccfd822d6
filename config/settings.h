#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "station/line_records.h"
#include "station/plug_in_start.h"

namespace config {

// The settings file, in the working directory.
constexpr const char* kSettingsFileName = "ZEBL.ini";

// The longest update file path kept: this platform's path limit. A longer `Path` is not used at
// all rather than cut to a different path.
constexpr size_t kMaxPathLength = 4095;

// The settling time is kept within 0 ms and ten minutes.
constexpr int32_t kMaxSleepTime = 600000;
constexpr int32_t kDefaultSleepTime = 8000;

// Port kinds of save_port_setting and release_duplicate_port.
constexpr int kAtPortKind = 0;
constexpr int kDiagPortKind = 1;

// "<directory>/ZEBL.ini", or empty when the directory is unknown (empty).
std::string settings_path_in(const std::string& directory);

// The ports a module is set to in the settings file: COM numbers, 0 for none.
struct ModulePorts {
  int32_t at = 0;
  int32_t diag = 0;
};

// The ports of the six modules as the settings file in `directory` names them (read as
// load_settings reads them), without touching the slots.
std::array<ModulePorts, 6> read_module_ports(const std::string& directory);

// Reinitialises the six slots and reads the settings file into them (with `[Station] Identify`: a
// run asks its module for its IMEI and revision after ATE0 when the value reads as a number other
// than 0; off by default), then loads the device table.
// A slot whose worker has not returned keeps its run whole: its port, file image, thread, run
// snapshot and flags; only its settings fields are refreshed (they take effect at its next run).
// The other slots have their finished thread joined, their port closed and their image released.
// Gives the result of read_cfgini_file (1 loaded, 0 not).
int load_settings();

// Reads the `FilePath` section: `Path` into every slot's filePath, `SleepTime` into every slot's
// sleepTime. Gives the path.
std::string LoadFilePath();

// Writes `path` as key `Path` of section `FilePath`. The writers give true when the value is in
// the file; on failure the debug channel says why (the operator is not told).
bool SaveFilePath(const std::string& path);

// Writes COM number `n` as key `number` of "ATPort_<ordinal>" (kind 0) or "DiagPort_<ordinal>"
// (kind 1) of `module` 0..5, in the folder of that module's workDir.
bool save_port_setting(int module, int kind, int n);

// Takes port `n` of `kind` away from every other module that holds it: the port becomes 0, its
// key is written empty, and WM_PORTS_CHANGED is sent once when any module was changed. Ports of the
// other kind are never compared.
void release_duplicate_port(int module, int kind, int n);

// The writers of the two option lists, in the folder of Module1's workDir: "1" for a non-zero
// value, "0" for 0.
bool save_only_upgrade_script_option(int value);
bool save_select_type_option(int value);

// "Start when a module is plugged in": key `StartOnPlugIn` of the section `Station`, which readers
// that do not know it ignore. Off unless the value reads as a number other than 0. In the working
// directory's settings file, like the update file's path.
bool load_start_on_plug_in();
bool save_start_on_plug_in(bool on);

// How long a port must be away after a run before the arrival of a module without a serial number
// of its own starts it again: key `ReArmSeconds` of the section `Station`, in seconds. 60 unless
// the value reads as a number from 1 on (0 would start a module again each time it restarts after
// its update); at most a day.
constexpr int64_t kDefaultReArmSeconds = station::PlugInStart::kDefaultRearmMs / 1000;
constexpr int64_t kMaxReArmSeconds = 86400;
int64_t load_rearm_seconds();

// The line's database and this station's name in it: keys `Database` and `Name` of the section
// `Station` (both empty unless set). Read once, at the program's start.
station::LineRecordSettings load_line_record_settings();

}  // namespace config
