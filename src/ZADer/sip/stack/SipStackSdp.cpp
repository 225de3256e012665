#include "SipStackSdp.h"

#include "SipText.h"

#include <string>

sdp_message_t* SipStackSdp::parse(const char* text, size_t length)
{
    if (!text || length == 0)
        return nullptr;
    // libosip2's SDP parser reads past the end of a text whose last line has no line end: end
    // the text with CRLF and leave NUL bytes behind it.
    std::string padded(text, length);
    if (padded.back() != '\n')
        padded += "\r\n";
    padded.append(16, '\0');
    sdp_message_t* sdp = nullptr;
    if (sdp_message_init(&sdp) != 0)
        return nullptr;
    if (sdp_message_parse(sdp, padded.c_str()) != 0) {
        sdp_message_free(sdp);
        return nullptr;
    }
    return sdp;
}

sdp_media_t* SipStackSdp::firstMedia(sdp_message_t* sdp, const char* kind)
{
    if (!sdp || !kind)
        return nullptr;
    for (int i = 0; !osip_list_eol(&sdp->m_medias, i); ++i) {
        auto* media = static_cast<sdp_media_t*>(osip_list_get(&sdp->m_medias, i));
        if (media && media->m_media && SipText::equalsIgnoreCase(media->m_media, kind))
            return media;
    }
    return nullptr;
}

sdp_connection_t* SipStackSdp::connectionOf(sdp_message_t* sdp, sdp_media_t* media)
{
    if (media && !osip_list_eol(&media->c_connections, 0))
        return static_cast<sdp_connection_t*>(osip_list_get(&media->c_connections, 0));
    return sdp ? sdp->c_connection : nullptr;
}
