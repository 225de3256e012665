// Prints the CPU time and real-time factor of converting one minute of 44.1 kHz stereo MP3 into
// the channel codecs (as the file and playlist readers do), and of turning a PCMA channel into the
// HTTP stream's MP3. Needs the ffmpeg command to make the input.
#include "BenchProcess.h"
#include "AVPacketConverter.h"
#include "RTPAudioPacket.h"
#include "RTPAudioTarget.h"
#include "RTPMp3Transcoder.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr double kSeconds = 60.0;

struct Input
{
    AVCodecParameters* parameters = nullptr;
    std::vector<AVPacket*> packets;
};

bool readAll(const std::string& path, Input* input)
{
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return false;
    if (avformat_find_stream_info(context, nullptr) < 0 || context->nb_streams < 1) {
        avformat_close_input(&context);
        return false;
    }
    AVStream* stream = context->streams[0];
    input->parameters = avcodec_parameters_alloc();
    avcodec_parameters_copy(input->parameters, stream->codecpar);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(context, packet) >= 0) {
        packet->time_base = stream->time_base;
        input->packets.push_back(av_packet_clone(packet));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return true;
}

struct Run
{
    double cpu = 0;
    double audio = 0;
    long packets = 0;
    long bytes = 0;
};

// The reader's path: converter to the payload type's target, every packet into an RTP packet.
Run convert(const Input& input, const AVCodecParameters* target, int payloadType,
            std::vector<std::unique_ptr<RTPAudioPacket>>* keep)
{
    Run run;
    AVPacketConverter converter;
    if (!converter.init(input.parameters, target))
        return run;
    auto take = [&]() {
        while (AVPacket* p = converter.pop()) {
            auto packet = std::make_unique<RTPAudioPacket>();
            packet->payloadType = payloadType;
            packet->duration = double(p->duration) * av_q2d(p->time_base);
            packet->setPayload(p->data, p->size);
            run.audio += packet->duration;
            run.bytes += packet->length;
            ++run.packets;
            if (keep)
                keep->push_back(std::move(packet));
            av_packet_free(&p);
        }
    };
    const double start = BenchProcess::cpuSeconds();
    for (AVPacket* p : input.packets) {
        converter.push(p);
        take();
    }
    converter.flush();
    take();
    run.cpu = BenchProcess::cpuSeconds() - start;
    return run;
}

void print(const char* name, const Run& run)
{
    if (run.packets == 0) {
        std::printf("%-26s failed\n", name);
        return;
    }
    std::printf("%-26s cpu %7.3f s  real-time factor %.4f (%6.0fx real time)  %ld packets, %.1f s\n",
                name, run.cpu, run.cpu / kSeconds, kSeconds / run.cpu, run.packets, run.audio);
}

} // namespace

int main()
{
    char dir[] = "/tmp/sonaris-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string mp3 = std::string(dir) + "/minute.mp3";
    // Music-like content: a chord over pink noise, so the MP3 decoder does real work.
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
        "\"aevalsrc=0.2*sin(2*PI*220*t)+0.15*sin(2*PI*277*t)+0.1*sin(2*PI*330*t):s=44100:d=60\" "
        "-f lavfi -i \"anoisesrc=d=60:c=pink:a=0.05:r=44100\" -filter_complex amix=inputs=2 "
        "-ac 2 -ar 44100 -c:a libmp3lame -b:a 128k " + mp3;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the input\n");
        return 1;
    }
    Input input;
    if (!readAll(mp3, &input)) {
        std::fprintf(stderr, "cannot read %s\n", mp3.c_str());
        return 1;
    }
    std::printf("input: %zu MP3 packets, 60 s of 44.1 kHz stereo at 128 kbit/s\n", input.packets.size());

    AVCodecParameters* target = avcodec_parameters_alloc();
    struct Codec
    {
        const char* name;
        int payloadType;
    };
    const Codec codecs[] = {{"mp3 -> PCMU", 0}, {"mp3 -> PCMA", 8}, {"mp3 -> G.722", 9},
                            {"mp3 -> L16 stereo", 10}, {"mp3 -> MP3 (pass-through)", 14}};
    std::vector<std::unique_ptr<RTPAudioPacket>> pcma;
    for (const Codec& c : codecs) {
        RTPAudioTarget::fill(target, c.payloadType);
        print(c.name, convert(input, target, c.payloadType, c.payloadType == 8 ? &pcma : nullptr));
    }
    // The same minute decoded and encoded again: what a 48 kHz or mono MP3 source costs.
    RTPAudioTarget::fill(target, 14);
    target->format = AV_SAMPLE_FMT_S16P;
    print("mp3 -> MP3 (re-encoded)", convert(input, target, 14, nullptr));
    avcodec_parameters_free(&target);

    // The HTTP stream of a PCMA channel: its packets into MP3 on the send thread.
    Run run;
    RTPMp3Transcoder transcoder;
    if (transcoder.open(1) == 0) {
        const double start = BenchProcess::cpuSeconds();
        for (const auto& p : pcma) {
            transcoder.push(p.get());
            while (AVPacket* out = transcoder.pop()) {
                run.audio += double(out->duration) * av_q2d(out->time_base);
                ++run.packets;
                av_packet_free(&out);
            }
        }
        run.cpu = BenchProcess::cpuSeconds() - start;
    }
    print("PCMA -> MP3 (HTTP stream)", run);

    for (AVPacket* p : input.packets)
        av_packet_free(&p);
    avcodec_parameters_free(&input.parameters);
    std::remove(mp3.c_str());
    rmdir(dir);
    return 0;
}
