#pragma once

namespace devices {

// Prepares the COM ports of the bench folder (the working directory) for a program that opens
// them. Numbers the serial hardware present, making or re-pointing its links (a bench folder
// without ports/ gets one here), takes the census into AtPortCandidates, and has every later
// opening of a COM port checked by may_open_port: a link the numbering made is opened only while
// it leads to the port it was made for. Call it once at start-up, before any module is started.
// Gives the census's result (GetDevicePorts).
int prepare_bench_ports();

}  // namespace devices
