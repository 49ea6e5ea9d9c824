#pragma once

// Puts the Oracle net service names file of the working directory ("./tnsnames.ora") where the
// workstation's Oracle client reads it, replacing the file there. The outcome is not checked:
// a missing file simply leaves the client's names as they were, and the copy takes effect at
// the next start, after this start's connection has been made.
void copyNetServiceNames();
