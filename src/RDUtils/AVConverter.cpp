#include "AVConverter.h"

#include "RDThread.h"

#include <QString>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace {

// The caller is a window: a silent server must not hold it longer than this.
constexpr double kDeadlineSeconds = 5.0;

int pastDeadline(void* opaque)
{
    return RDThread::tickTime() > *static_cast<const double*>(opaque) ? 1 : 0;
}

} // namespace

double AVConverter::duration(const QString& path)
{
    if (path.isEmpty())
        return 0.0;
    double deadline = RDThread::tickTime() + kDeadlineSeconds;
    AVFormatContext* context = avformat_alloc_context();
    if (!context)
        return 0.0;
    context->interrupt_callback.callback = pastDeadline;
    context->interrupt_callback.opaque = &deadline;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "rw_timeout", "5000000", 0);
    const QByteArray utf8 = path.toUtf8();
    // On failure avformat_open_input frees the context itself.
    const int opened = avformat_open_input(&context, utf8.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return 0.0;

    double seconds = 0.0;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        const int index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVStream* stream = context->streams[index];
            if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                seconds = double(stream->duration) * av_q2d(stream->time_base);
            else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
                seconds = double(context->duration) / AV_TIME_BASE;
        }
    }
    avformat_close_input(&context);
    return seconds;
}
