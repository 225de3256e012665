#pragma once

class QString;

// Facts about media files and URLs that the windows show.
class AVConverter
{
public:
    // Playing time in seconds of the best audio stream, else of the container; 0 when the media
    // cannot be opened or probed, or does not answer within a few seconds.
    static double duration(const QString& path);
};
