#pragma once

#include <string>
#include <string_view>

#include "engine/module_slot.h"
#include "engine/run_facts.h"

namespace engine {

// Asks the module for its IMEI (AT+CGSN) and its firmware revision (AT+CGMR), each exchange ending
// at OK or ERROR or after a short wait (20 ms, then up to 20 polls 50 ms apart, the replies of the
// polls joined). An ERROR, no answer or an answer that is not one leaves the field empty: the
// identity never fails a run.
ModuleIdentity ask_identity(ModuleSlot& slot);

// The identity as the runner's line and the status tooltip show it: "IMEI 356938035643809,
// revision R1.0" with "?" for a field the module did not give; empty when it gave neither.
std::string identity_text(const ModuleIdentity& identity);

// The IMEI in a reply to AT+CGSN ("\r\n<digits>\r\n\r\nOK\r\n", with or without "+CGSN: "): the
// first line of 14 to 17 digits, or empty.
std::string imei_from_reply(std::string_view reply);

// The revision in a reply to AT+CGMR ("\r\n<text>\r\n\r\nOK\r\n", with or without "+CGMR: "):
// the first line that is neither the echo nor OK, printable ASCII, at most 64 characters; or empty.
std::string revision_from_reply(std::string_view reply);

}  // namespace engine
