// The results of the Software Manager's removal (removeManager), apart from its forms so
// that the message table can name them.
#pragma once

enum eRemoverResult {
    eRMRemoved = 0,     // bundle files and executable removed
    eRMPackages = 1,    // packages are still registered
    eRMBadObject = 2,   // not a regular file at the manager's place, or a file could not be removed
    eRMOwnFile = 3,     // no manager at its place: the running executable was removed instead
    eRMDeclined = 4,
    eRMCount  // the number of results
};
