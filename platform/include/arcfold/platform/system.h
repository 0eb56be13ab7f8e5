// What the installer's seams ask of the system beyond files of the archive:
// starting a program on its own, a download's temporary file, the right to
// run a file. Paths and texts are UTF-8, as the installer keeps them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace afp {

// Starts program (looked for on the search path when it has no folder) with
// args, in folder workdir (empty: this process's), detached from this
// process: it outlives it, gets no console of its own and leaves no zombie.
// False when it could not be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args, const std::string& workdir);

// A new file named prefix followed by six characters, created exclusively
// (no other file or link of that name is touched) and open for writing
// bytes; its name goes to path. Null when it cannot be created.
std::FILE* CreateTempFile(const std::string& prefix, std::string& path);

// Lets the file's owner run it, its other permissions kept. True where
// files need no such permission (Windows) and the file is there.
bool MakeExecutable(const std::string& path);

}  // namespace afp
