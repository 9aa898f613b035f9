// Build step: enciphers the six endpoint texts given at configure time into a C++ source file.
// Usage: endpointgen OUTPUT PRIMARY_HOST PRIMARY_VERSION_PATH PRIMARY_DOWNLOAD_BASE
//                           SECONDARY_HOST SECONDARY_VERSION_PATH SECONDARY_DOWNLOAD_BASE
// Each text comes behind a "=" (so that an empty one survives the build tool's command line).
// All six empty: a build without update servers. Some empty: refused.

#include "update/endpointcipher.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s OUTPUT and six endpoint texts\n", argv[0]);
        return 2;
    }
    static const char *const names[6] = {"PRIMARY_HOST",           "PRIMARY_VERSION_PATH",
                                         "PRIMARY_DOWNLOAD_BASE",  "SECONDARY_HOST",
                                         "SECONDARY_VERSION_PATH", "SECONDARY_DOWNLOAD_BASE"};
    static const size_t digits[6] = {kHostHexDigits,     kVersionPathHexDigits, kDownloadBaseHexDigits,
                                     kLongHostHexDigits, kVersionPathHexDigits, kDownloadBaseHexDigits};
    const char *texts[6];
    int given = 0;
    for (int i = 0; i < 6; ++i) {
        if (argv[2 + i][0] != '=') {
            std::fprintf(stderr, "update endpoint %s: expected \"=TEXT\"\n", names[i]);
            return 2;
        }
        texts[i] = argv[2 + i] + 1;
        given += texts[i][0] != '\0' ? 1 : 0;
    }
    if (given != 0 && given != 6) {
        std::fprintf(stderr, "update endpoints: give all six texts or none\n");
        return 1;
    }
    std::string hex[6];
    for (int i = 0; i < 6 && given != 0; ++i) {
        if (EncipherEndpoint(texts[i], digits[i], hex[i]) != 0) {
            std::fprintf(stderr, "update endpoint %s is longer than %zu bytes: \"%s\"\n", names[i],
                         EndpointCapacity(digits[i]), texts[i]);
            return 1;
        }
    }
    std::FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Generated at build time from the configured update endpoints. Do not edit.\n");
    std::fprintf(out, "#include \"update/endpoints.h\"\n\n");
    std::fprintf(out, "const UpdateEndpointTable &UpdateEndpoints()\n{\n");
    std::fprintf(out, "    static const UpdateEndpointTable table = {\n        %s,\n",
                 given != 0 ? "true" : "false");
    for (int i = 0; i < 6; ++i) {
        std::fprintf(out, "        \"%s\",\n", hex[i].c_str());
    }
    std::fprintf(out, "    };\n    return table;\n}\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
