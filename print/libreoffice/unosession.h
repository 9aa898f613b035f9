#pragma once
// The UNO side of one office: the local component context (bootstrapped once), the connection to an
// office through its pipe, its desktop, and its end. Used on the call thread only; holds no reference
// in a global (their destructors would crash at exit).

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <functional>
#include <string>

class UnoSession
{
public:
    // Bootstraps the local context from the office's fundamentalrc. False when that fails.
    bool bootstrap(const std::string &fundamentalrc);
    bool bootstrapped() const { return local_.is(); }

    // Connects to the office listening on pipeName, retrying until it answers or keepTrying says no.
    bool connect(const std::string &pipeName, const std::function<bool()> &keepTrying);
    // One try at the office listening on pipeName, leaving the current office as it is: its desktop, or
    // none when it does not answer yet.
    com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2>
    connectOnce(const std::string &pipeName) const;
    // Works with that office from now on.
    void use(const com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> &desktop)
    {
        desktop_ = desktop;
        remote_.clear();
    }
    // The version of the office last connected to, as its settings name it ("7.4"); empty when it cannot
    // tell. With remember, its profile is made to say that this version has started on it (and so the
    // next start on it skips the office's graphics self-tests; see officefiles::SeedProfile), on disk
    // at once.
    std::string officeVersion(bool remember);
    // Does the office still answer over the bridge? A killed office's bridge is disposed at once.
    bool alive() const;
    const com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> &desktop() const
    {
        return desktop_;
    }
    // Asks the office to end (it waits for a print under way), and lets go of it.
    void terminate();
    // Lets go of the office without asking anything of it (it is gone).
    void forget()
    {
        desktop_.clear();
        remote_.clear();
    }
    // Lets go of the local context and its bridge factory.
    void dispose();

    // The file URL of a profile folder, as the office spells it.
    static std::string ProfileUrl(const std::string &profileDir);
    // The pipe through which a second start on the same profile finds the running office.
    static std::string ProfilePipeName(const std::string &profileDir);

private:
    com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> local_;
    com::sun::star::uno::Reference<com::sun::star::frame::XDesktop2> desktop_;
    com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> remote_; // of connect()
};
