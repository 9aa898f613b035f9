#pragma once
// One office as the client starts it: its process, its private profile folder and pipes, and the
// environment it runs in. The first office of a run may use the profile kept between runs in the user's
// cache folder (a fresh profile costs the office a slow first start); a run holds that profile through a
// lock for as long as its office uses it, and one that was not left cleanly is made anew.

#include "print/libreoffice/officeprocess.h"

#include <string>
#include <vector>

// soffice.bin leaves with this code once after it has filled a fresh profile; it is then started again.
constexpr int OfficeRestartExitCode = 81;

// The office's command line: headless, no first-start dialogs, listening on pipeName.
std::vector<std::string> OfficeArguments(const std::string &bin, const std::string &profileDir,
                                         const std::string &pipeName);

// The version an office at bin gave when it last started in this program ("7.4"); empty before. A profile
// made for that office from then on is seeded with it (see officefiles::SeedProfile).
std::string KnownOfficeVersion(const std::string &bin);
void LearnOfficeVersion(const std::string &bin, const std::string &version);

// The folder of the profile kept between runs: $XDG_CACHE_HOME/quillmark/office-profile, or under
// ~/.cache; empty when neither is known.
std::string KeptProfileDir();

class OfficeInstance
{
public:
    OfficeInstance() = default;
    ~OfficeInstance() { reap(); }

    // Starts the office at bin with a profile of its own: the kept one when keepProfile and no other
    // run holds it, else a fresh one.
    bool spawn(const std::string &bin, const std::string &pipeName, bool keepProfile);
    // Has the office ended? Its exit code is kept for restartAfterFirstRun and reap.
    bool exited();
    // The office left after filling a fresh profile: started again (up to three starts). False when it
    // left for another reason, or too often.
    bool restartAfterFirstRun();
    // Ends the process and removes what it leaves: the pipes, the temporary folder, and the profile
    // unless it is the kept one (which is marked for renewal when its office did not leave by itself).
    void reap();
    bool usesKeptProfile() const { return leaseFd_ >= 0; }

    OfficeProcess process;
    std::string profileDir, pipeName, profilePipeName;

    // Takes over other's office (this one's is ended first), as when a spare replaces the office at work.
    void adopt(OfficeInstance &other);

    OfficeInstance(const OfficeInstance &) = delete;
    OfficeInstance &operator=(const OfficeInstance &) = delete;

private:
    bool takeKeptProfile();
    void releaseKeptProfile(bool clean);

    std::vector<std::string> argv_, environment_;
    int starts_ = 0;
    int lastExit_ = -1;
    int leaseFd_ = -1; // the lock held on the kept profile, -1 when this office has a fresh one
};
