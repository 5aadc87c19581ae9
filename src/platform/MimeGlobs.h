#pragma once
// File-name extensions that the desktop knows about, taken from the shared MIME database
// (freedesktop.org "globs2"/"globs" files) and from /etc/mime.types. The extension list
// of subject analysis is seeded from them, the way a desktop would recognise a file type.
#include <string>
#include <vector>

namespace zev::platform {

// Every simple extension registered on this machine, each with its leading ".", in the
// order found, duplicates (ignoring case) removed. Reads $XDG_DATA_HOME/mime and each
// directory of $XDG_DATA_DIRS (default /usr/local/share:/usr/share) followed by
// /etc/mime.types. Missing or unreadable files simply contribute nothing.
std::vector<std::string> RegisteredExtensions();

// Extensions of one MIME glob file. Both layouts are accepted: "weight:type:glob[:flags]"
// (globs2) and "type:glob" (globs). Only globs of the form "*.ext" count, where ext is a
// run of ASCII letters and digits; patterns with further wildcards, several dots or other
// characters are not extensions a subject line could end with.
std::vector<std::string> ReadMimeGlobs(const std::string& path);

// Extensions of a mime.types file: "type ext ext ..." per line, "#" starts a comment.
// The same character rule as for globs applies.
std::vector<std::string> ReadMimeTypes(const std::string& path);

}  // namespace zev::platform
