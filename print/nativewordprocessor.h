#pragma once
// Installs the platform's word-processor client as the print run's factory
// (LibreOffice over UNO on Linux, Word/WPS over COM on Windows).
void InstallNativeWordProcessor();
