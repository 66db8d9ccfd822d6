#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace engine {

// Loads a whole update file. Only a regular file of 1 to 2^31 - 1 bytes that is read completely and
// does not change while it is read is accepted: a module must never be written or verified from a
// partial image. Gives null (and leaves `size` alone) for anything else.
std::unique_ptr<uint8_t[]> file_read(const std::string& path, int32_t* size);

// Tests put a change to the file between the reading of its bytes and the check that it did not
// change (an empty function removes it). Never set in the product.
void set_file_read_interleave(std::function<void(const std::string& path)> change);

// The name the module stores the file under: the part of `path` after its last slash. Empty, with
// the reason in `why`, when the name cannot be carried by the module's command lines: an empty
// name, a double quote, a comma or a semicolon (they would split the command's parameters), or a
// control character.
std::string module_file_name(const std::string& path, std::string* why);

}  // namespace engine
