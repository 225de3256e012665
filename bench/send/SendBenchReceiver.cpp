// sonaris-bench-recv: the far end of a pacing run. Binds N even ports from --port on 127.0.0.1,
// records every RTP packet's kernel arrival time and RTP timestamp, and at the end prints one
// line of figures over all channels:
//   <label> packets <n> p50 <ms> p99 <ms> max <ms> drift <ms/min> streams <channels that arrived>
// Lateness is each packet's arrival against its RTP timestamp (timestamp / clock), measured from
// the earliest packet of its channel; the first --skip seconds of every channel are left out.
// Drift is the largest slope, over the channels, of that offset against time (from the medians
// of the run's first and last fifth). It reads its sockets every 10 ms rather than on every
// arrival: the kernel's stamps are what is measured.

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample
{
    double arrival;
    uint32_t timestamp;
};

constexpr double kBatch = 0.01;

double wallNow()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

int usage()
{
    std::fprintf(stderr, "usage: sonaris-bench-recv --port P --channels N --seconds S [--clock HZ] [--skip S] "
                         "[--label TEXT]\n");
    return 2;
}

double percentile(std::vector<double>& values, double p)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    int port = 0, channels = 1;
    double seconds = 10, clockRate = 8000, skip = 1;
    std::string label = "run";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--port")
            port = std::atoi(value);
        else if (key == "--channels")
            channels = std::atoi(value);
        else if (key == "--seconds")
            seconds = std::atof(value);
        else if (key == "--clock")
            clockRate = std::atof(value);
        else if (key == "--skip")
            skip = std::atof(value);
        else if (key == "--label")
            label = value;
        else
            return usage();
    }
    if (port < 1 || port + 2 * channels > 65535 || channels < 1 || seconds <= 0 || clockRate <= 0)
        return usage();

    std::vector<pollfd> fds;
    for (int c = 0; c < channels; ++c) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port + 2 * c));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        const int on = 1, buffer = 1 << 20;
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            std::fprintf(stderr, "sonaris-bench-recv: cannot bind port %d: %s\n", port + 2 * c, strerror(errno));
            return 1;
        }
        fds.push_back({fd, POLLIN, 0});
    }

    std::vector<std::vector<Sample>> samples(static_cast<size_t>(channels));
    const double end = wallNow() + seconds;
    // The kernel stamps each datagram as it arrives, so the receiver need not be woken for every
    // one: it takes what has come every kBatch. A receiver waiting in poll would be woken by each
    // sendto, and that wake-up would be charged to the sender under test.
    const timespec batch{0, long(kBatch * 1e9)};
    while (wallNow() < end) {
        nanosleep(&batch, nullptr);
        if (poll(fds.data(), fds.size(), 0) <= 0)
            continue;
        for (size_t c = 0; c < fds.size(); ++c) {
            if (!(fds[c].revents & POLLIN))
                continue;
            for (;;) {
                uint8_t data[2048];
                char control[128];
                iovec io{data, sizeof(data)};
                msghdr message{};
                message.msg_iov = &io;
                message.msg_iovlen = 1;
                message.msg_control = control;
                message.msg_controllen = sizeof(control);
                const ssize_t n = recvmsg(fds[c].fd, &message, MSG_DONTWAIT);
                if (n < 0)
                    break;
                if (n < 12 || (data[0] >> 6) != 2)
                    continue;
                double arrival = wallNow();
                for (cmsghdr* m = CMSG_FIRSTHDR(&message); m; m = CMSG_NXTHDR(&message, m)) {
                    if (m->cmsg_level == SOL_SOCKET && m->cmsg_type == SCM_TIMESTAMPNS) {
                        timespec ts;
                        std::memcpy(&ts, CMSG_DATA(m), sizeof(ts));
                        arrival = double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
                    }
                }
                const uint32_t timestamp = (uint32_t(data[4]) << 24) | (uint32_t(data[5]) << 16) |
                                           (uint32_t(data[6]) << 8) | data[7];
                samples[c].push_back({arrival, timestamp});
            }
        }
    }

    std::vector<double> lateness;
    double drift = 0;
    size_t packets = 0;
    int streams = 0;
    for (const auto& channel : samples) {
        packets += channel.size();
        if (channel.empty())
            continue;
        ++streams;
        // Offsets of arrival against the unwrapped RTP time, after the first skip seconds.
        std::vector<std::pair<double, double>> offsets;
        int64_t unwrapped = 0;
        uint32_t previous = channel[0].timestamp;
        for (const Sample& s : channel) {
            unwrapped += int32_t(s.timestamp - previous);
            previous = s.timestamp;
            if (s.arrival - channel[0].arrival >= skip)
                offsets.push_back({s.arrival, s.arrival - double(unwrapped) / clockRate});
        }
        if (offsets.size() < 2)
            continue;
        double least = offsets[0].second;
        for (const auto& o : offsets)
            least = std::min(least, o.second);
        for (const auto& o : offsets)
            lateness.push_back(o.second - least);
        // Slope of the offset between the first and the last fifth of the run, each taken at its
        // median: a schedule that drifts moves the whole fifth, while a few packets held up by a
        // busy machine (which a least-squares fit follows) do not.
        const size_t fifth = offsets.size() / 5;
        if (fifth < 1)
            continue;
        auto median = [](std::vector<double> values) {
            std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
            return values[values.size() / 2];
        };
        std::vector<double> firstTimes, firstOffsets, lastTimes, lastOffsets;
        for (size_t i = 0; i < fifth; ++i) {
            firstTimes.push_back(offsets[i].first);
            firstOffsets.push_back(offsets[i].second);
            lastTimes.push_back(offsets[offsets.size() - fifth + i].first);
            lastOffsets.push_back(offsets[offsets.size() - fifth + i].second);
        }
        const double span = median(lastTimes) - median(firstTimes);
        const double slope = span > 0 ? (median(lastOffsets) - median(firstOffsets)) / span : 0;
        if (std::fabs(slope) > std::fabs(drift))
            drift = slope;
    }
    std::vector<double> sorted = lateness;
    const double p50 = percentile(sorted, 0.5) * 1e3;
    const double p99 = percentile(sorted, 0.99) * 1e3;
    const double max = lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end()) * 1e3;
    std::printf("%s packets %zu p50 %.3f p99 %.3f max %.3f drift %.3f streams %d\n", label.c_str(), packets, p50, p99,
                max, drift * 60e3, streams);
    for (const pollfd& p : fds)
        close(p.fd);
    return 0;
}
