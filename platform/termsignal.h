#pragma once
// Ends the application's event loop (exit code 0) when the process is asked to stop with SIGTERM or
// SIGINT, so that start-up tears down as after "退出程序". Call once, after the QCoreApplication exists.
// On Windows: Ctrl+C, Ctrl+Break and the closing of the console (see termsignal_win.cpp). With hangup, a
// closed terminal (SIGHUP) ends the loop the same way; Windows hears the closing console always.
void QuitOnTerminationSignals(bool hangup = false);
