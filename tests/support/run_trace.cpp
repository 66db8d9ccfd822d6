#include "tests/support/run_trace.h"

namespace testing_support {

std::string tricky_content(size_t size, int seed) {
  std::string data;
  const std::string words = "\r\nOK\r\nERROR\r\nDOWNLOAD\r\n+CFSGFIS: 1\r\n";
  for (size_t i = 0; data.size() < size; ++i) {
    if (i % 97 == 0) data += words;
    data += static_cast<char>((i * 31 + static_cast<size_t>(seed)) & 0xFF);
  }
  data.resize(size);
  return data;
}

std::vector<std::string> run_trace(const MessageRecorder& window, int index) {
  std::vector<std::string> out;
  const uint32_t i = static_cast<uint32_t>(index);
  for (auto& m : window.messages()) {
    if (m.msg == engine::WM_SLOT_STATUS + i) out.push_back("S:" + m.text);
    if (m.msg == engine::WM_SLOT_PROGRESS + i)
      out.push_back("P:" + std::to_string(m.wParam) + "/" + std::to_string(m.lParam));
    if (m.msg == engine::WM_SLOT_RESULT && m.wParam == i)
      out.push_back("R:" + std::to_string(m.lParam));
    if (m.msg == engine::WM_SLOT_FINISHED + i) out.push_back("F");
  }
  return out;
}

std::vector<std::string> passing_trace(size_t size) {
  std::vector<std::string> t = {"S:Prepare to download, please wait...",
                                "S:Start downloading file..."};
  for (size_t done = 1024; done < size; done += 1024)
    t.push_back("P:" + std::to_string(done) + "/" + std::to_string(size));
  t.push_back("P:" + std::to_string(size) + "/" + std::to_string(size));
  t.push_back("S:Byte count match successful: " + std::to_string(size) + "!");
  t.insert(t.end(), {"S:download success!\r\n", "P:0/100", "P:0/100", "R:1", "F"});
  return t;
}

}  // namespace testing_support
