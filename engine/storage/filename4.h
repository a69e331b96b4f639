// File-name helpers: full names, names built from their pieces, cleaning,
// and the path, base name and extension of a name.
//
// Names are POSIX paths: only '/' separates components; ':' and '\' are
// ordinary name characters. The extension is what follows the last '.' of
// the last component (so ".profile" has the extension "profile"). Buffer
// sizes count the terminator.
//
// A name that does not fit its buffer is refused with -930, raised without a
// settings object, and the buffer (when it has room) left empty: a name cut
// short could open or create the wrong file.
#pragma once

#include <cstdint>

// The full name of `name`: the name itself when it begins with '/', else the
// current directory, less one component for each leading "../" of the name
// (never the root), then '/' and the rest. The result is cleaned
// (filename4clean). Returns 0; -930 at 90347 when a pointer is null or the
// result does not fit into `size`; -1420 from cleaning; -1 (not raised)
// when the current directory cannot be told.
int32_t filename4current(char* buffer, int32_t size, const char* name);

// A name from a directory and a name: the name alone when it begins with '/'
// or the directory is null or empty, else the directory, a '/' unless it
// ends with one, and the name. Returns 0, or -930 at 90342 when a pointer is
// null or the result does not fit.
int32_t filename4make(char* buffer, int32_t size, const char* directory, const char* name);

// Removes every "./" component and resolves every "../" component with the
// component before it, in place: "/A/B/../C" becomes "/A/C", "A/./B"
// becomes "A/B", and "a./b" stays. A last component is left as it is.
// Returns 0, or -1420 at 90348 (the name unchanged) when a "../" has no
// component before it to remove; -935 at 90348 for a null name.
int32_t filename4clean(char* name);

// The piece of `name` asked for: its path (up to and including the last
// '/') when `keepPath` is set, then its base name, then its extension with
// the '.' when `keepExtension` is set. Returns 0, or -930 at 90343 when a
// pointer is null or the piece does not fit.
int32_t filename4piece(char* buffer, int32_t size, const char* name, int keepPath,
                       int keepExtension);

// The path of `name`, up to and including its last '/' (empty without
// one). Returns its length, or -930 at 90346 when a pointer is null or the
// path does not fit.
int32_t filename4path(char* buffer, int32_t size, const char* name);

// The extension of `name` without the '.', cut to size - 1 bytes; the
// buffer is zero-filled first. Returns the number of bytes copied, or -930
// at 90344 for a null pointer or a size below 3.
int32_t filename4extension(char* buffer, int32_t size, const char* name);

// Gives `name` (a buffer of `size` bytes) the extension `extension` (a
// leading '.' is ignored). Trailing blanks of the name are removed first; a
// name that has an extension keeps it unless `replace` is set. Returns 0,
// or -930 at 90345 (the name unchanged) when a pointer is null or the new
// name does not fit.
int32_t filename4extensionSet(char* name, int32_t size, const char* extension, int replace);
