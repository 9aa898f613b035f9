#pragma once
// The enciphered update endpoints of this build (a generated table; see README.md in this folder).

struct UpdateEndpointTable
{
    bool configured;
    const char *primaryHost;
    const char *primaryVersionPath;
    const char *primaryDownloadBase;
    const char *secondaryHost;
    const char *secondaryVersionPath;
    const char *secondaryDownloadBase;
};

const UpdateEndpointTable &UpdateEndpoints();
