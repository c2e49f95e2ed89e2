// Names between the archive, the file system and the terminal. File names and the component's
// text convert both ways with zorvik::rt::to_wide and to_utf8, which keep every byte: one that is
// not UTF-8 is the private-use character U+EF00 + b (U+EF80 to U+EFFF), as the engine keeps it.
// What is printed never holds them, nor control characters.
#pragma once

#include <string>
#include <string_view>

namespace Zorvik::Cli {

// UTF-8 for text output: control characters, escaped bytes and bytes that are not UTF-8
// are written as \n, \t, \r or \xHH, so that a name can neither forge lines nor steer a
// terminal.
std::string Printable(std::string_view utf8);
// UTF-8 as a JSON string literal, quotes included: escaped bytes and bytes that are not UTF-8
// become U+FFFD. Written directly, as a listing writes one per entry.
std::string JsonString(std::string_view utf8);
// A path as the item tree and the file system read it: "./dir//sub/", "/dir/sub" and "dir/sub"
// are one path, since "." components and doubled or leading separators stand for nothing.
std::string NormalizedPath(std::string_view path);

}  // namespace Zorvik::Cli
