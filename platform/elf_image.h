// A look at a shared object before it is mapped. The loader maps a
// library's segments as its program headers describe them, without
// checking them against the file's length: touching a page past the end of
// a file cut short (a copy that stopped half way) raises SIGBUS.
#pragma once

namespace platform {

// False when the open file `fd` is an ELF file of this process's class
// whose program headers or segments reach past its end. Anything else
// (other files, files that cannot be read) is left to the loader, which
// refuses those without mapping them.
bool ElfSegmentsWithinFile(int fd);

}  // namespace platform
