#pragma once

// Asks the running avahi-daemon, through avahi-browse, what is published: for the tests that
// need a daemon, which the test session starts inside its private network namespace.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::testing {

// Whether an avahi-daemon answers inside the private test session. Outside it (no
// VANTREL_TEST_AVAHI) the tests stay away even from a daemon that runs: announcements would go out
// on the machine's real network.
inline bool avahiDaemonRunning() {
    const char* session = std::getenv("VANTREL_TEST_AVAHI");
    return session && std::string(session) == "1" && std::system("avahi-daemon -c >/dev/null 2>&1") == 0;
}

// Whether this test run owns its daemon and may stop and start it (a private namespace of its own,
// not the shared test session, where other tests use the daemon in parallel).
inline bool avahiDaemonRestartable() {
    const char* owned = std::getenv("VANTREL_TEST_AVAHI_RESTARTABLE");
    return avahiDaemonRunning() && owned && std::string(owned) == "1";
}

struct BrowsedService {
    std::string instance;
    std::string type;
    std::string address;
    std::string port;
    std::string txt;
};

// One resolving pass over the services of `type` (avahi-browse -rtp): the resolved IPv4 lines.
inline std::vector<BrowsedService> browse(const std::string& type) {
    std::vector<BrowsedService> services;
    const std::string command = "avahi-browse -rtp " + type + " 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return services;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get())) {
        // =;interface;protocol;instance;type;domain;host;address;port;txt
        std::vector<std::string> fields;
        std::string field;
        for (const char* c = line; *c && *c != '\n'; ++c) {
            if (*c == ';') {
                fields.push_back(field);
                field.clear();
            } else {
                field += *c;
            }
        }
        fields.push_back(field);
        if (fields.size() >= 10 && fields[0] == "=" && fields[2] == "IPv4") {
            services.push_back({fields[3], fields[4], fields[7], fields[8], fields[9]});
        }
    }
    return services;
}

}  // namespace vantrel::testing
