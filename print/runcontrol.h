#pragma once
// What reaches a print run from outside while it works: the abort that ends every run under way, and the
// pause between documents that the abort cuts short.

class WordProcessor;

// Every run under way, so that AbortRuns can reach it from another thread. One lives for the time of one
// run, on the run's thread.
class RunRegistration
{
public:
    RunRegistration();
    ~RunRegistration();
    RunRegistration(const RunRegistration &) = delete;
    RunRegistration &operator=(const RunRegistration &) = delete;

    // The processor must be detached (nullptr) before it is destroyed: the abort may call it at any time.
    // One that joins a run aborted already is told at once.
    void attach(WordProcessor *processor);
    bool aborted() const;
    // Like Sleep: 0 gives up the rest of the time slice. Cut short when the run is aborted.
    void pause(int milliseconds);

    // Makes every run under way end soon (pause cut short, word processor told to abort).
    static void AbortAll();

    struct State;

private:
    State *state_;
};
