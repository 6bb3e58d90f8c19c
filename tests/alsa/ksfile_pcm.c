/*
 * An ALSA PCM that behaves like a sound card paced by the clock, with raw
 * files instead of converters: playback writes every frame it is given to
 * a file, capture reads frames from a file (silence after its end). The
 * device offers exactly one format, rate and channel count per direction,
 * so the programs above it (Wine's WASAPI) see the device a test asks for.
 *
 * Parameters (in the PCM's definition):
 *   file "PATH"       the raw file written (playback) or read (capture)
 *   format "S16_LE"   any ALSA format name; default FLOAT_LE
 *   rate 48000        default 48000
 *   channels 2        default 2
 *   control "PATH"    optional: a text file read at every open whose lines
 *                     "playback.KEY VALUE" or "capture.KEY VALUE" override
 *                     file, format, rate and channels of that direction
 */

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#define KS_PATH_MAX 4096

typedef struct {
    snd_pcm_ioplug_t io;
    char path[KS_PATH_MAX];
    snd_pcm_format_t format;
    unsigned int rate;
    unsigned int channels;
    int file;  /* opened at the first transfer of a stream */
    int timer; /* readable once per period while running */
    snd_pcm_uframes_t hwFrames;
    snd_pcm_uframes_t clockBaseFrames;
    struct timespec clockBase;
    int running;
} KsFilePcm;

static double secondsSince(const struct timespec* since) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - since->tv_sec) + (double)(now.tv_nsec - since->tv_nsec) * 1e-9;
}

static size_t frameBytes(const KsFilePcm* pcm) {
    return (size_t)snd_pcm_format_physical_width(pcm->format) / 8 * pcm->channels;
}

/* The device's position follows the clock, but a playback device never
 * plays frames it was not given and a capture device never runs more than
 * a buffer ahead: it stalls there, as if the stream had paused. */
static void advanceClock(KsFilePcm* pcm) {
    if (!pcm->running)
        return;
    snd_pcm_uframes_t position =
        pcm->clockBaseFrames + (snd_pcm_uframes_t)(secondsSince(&pcm->clockBase) * pcm->rate);
    const snd_pcm_uframes_t limit = pcm->io.stream == SND_PCM_STREAM_PLAYBACK
                                        ? pcm->io.appl_ptr
                                        : pcm->io.appl_ptr + pcm->io.buffer_size;
    if (position > limit) {
        position = limit;
        pcm->clockBaseFrames = limit;
        clock_gettime(CLOCK_MONOTONIC, &pcm->clockBase);
    }
    pcm->hwFrames = position;
}

static int ksStart(snd_pcm_ioplug_t* io) {
    KsFilePcm* pcm = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &pcm->clockBase);
    pcm->clockBaseFrames = pcm->hwFrames;
    pcm->running = 1;
    const long periodNs = (long)((double)io->period_size * 1e9 / pcm->rate);
    struct itimerspec every = {{periodNs / 1000000000L, periodNs % 1000000000L},
                               {periodNs / 1000000000L, periodNs % 1000000000L}};
    timerfd_settime(pcm->timer, 0, &every, NULL);
    return 0;
}

static int ksStop(snd_pcm_ioplug_t* io) {
    KsFilePcm* pcm = io->private_data;
    advanceClock(pcm);
    pcm->running = 0;
    struct itimerspec never = {{0, 0}, {0, 0}};
    timerfd_settime(pcm->timer, 0, &never, NULL);
    return 0;
}

static snd_pcm_sframes_t ksPointer(snd_pcm_ioplug_t* io) {
    KsFilePcm* pcm = io->private_data;
    advanceClock(pcm);
    return (snd_pcm_sframes_t)(pcm->hwFrames % io->buffer_size);
}

static int openFile(KsFilePcm* pcm) {
    if (pcm->file >= 0)
        return 0;
    pcm->file = pcm->io.stream == SND_PCM_STREAM_PLAYBACK
                    ? open(pcm->path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                    : open(pcm->path, O_RDONLY | O_CLOEXEC);
    return pcm->file >= 0 ? 0 : -errno;
}

static snd_pcm_sframes_t ksTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                    snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    KsFilePcm* pcm = io->private_data;
    char* data = (char*)areas[0].addr + (areas[0].first + offset * areas[0].step) / 8;
    const size_t bytes = size * frameBytes(pcm);
    const int opened = openFile(pcm);
    if (io->stream == SND_PCM_STREAM_PLAYBACK) {
        size_t written = 0;
        while (opened == 0 && written < bytes) {
            const ssize_t n = write(pcm->file, data + written, bytes - written);
            if (n <= 0)
                break;
            written += (size_t)n;
        }
        return (snd_pcm_sframes_t)size;
    }
    size_t got = 0;
    while (opened == 0 && got < bytes) {
        const ssize_t n = read(pcm->file, data + got, bytes - got);
        if (n <= 0)
            break;
        got += (size_t)n;
    }
    const size_t sampleBytes = (size_t)snd_pcm_format_physical_width(pcm->format) / 8;
    snd_pcm_format_set_silence(pcm->format, data + got, (unsigned int)((bytes - got) / sampleBytes));
    return (snd_pcm_sframes_t)size;
}

static int ksPrepare(snd_pcm_ioplug_t* io) {
    KsFilePcm* pcm = io->private_data;
    pcm->hwFrames = 0;
    pcm->running = 0;
    return 0;
}

static int ksPollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                         unsigned short* revents) {
    KsFilePcm* pcm = io->private_data;
    uint64_t expirations;
    (void)nfds;
    *revents = 0;
    if ((pfd[0].revents & POLLIN) != 0 && read(pcm->timer, &expirations, sizeof expirations) > 0)
        *revents = io->stream == SND_PCM_STREAM_PLAYBACK ? POLLOUT : POLLIN;
    return 0;
}

static int ksClose(snd_pcm_ioplug_t* io) {
    KsFilePcm* pcm = io->private_data;
    if (pcm->file >= 0)
        close(pcm->file);
    close(pcm->timer);
    free(pcm);
    return 0;
}

static const snd_pcm_ioplug_callback_t ksCallbacks = {
    .start = ksStart,
    .stop = ksStop,
    .pointer = ksPointer,
    .transfer = ksTransfer,
    .close = ksClose,
    .prepare = ksPrepare,
    .poll_revents = ksPollRevents,
};

static int setValue(KsFilePcm* pcm, const char* key, const char* value) {
    if (strcmp(key, "file") == 0) {
        snprintf(pcm->path, sizeof pcm->path, "%s", value);
    } else if (strcmp(key, "format") == 0) {
        pcm->format = snd_pcm_format_value(value);
        if (pcm->format == SND_PCM_FORMAT_UNKNOWN)
            return -EINVAL;
    } else if (strcmp(key, "rate") == 0) {
        pcm->rate = (unsigned int)strtoul(value, NULL, 10);
    } else if (strcmp(key, "channels") == 0) {
        pcm->channels = (unsigned int)strtoul(value, NULL, 10);
    } else {
        return -EINVAL;
    }
    return 0;
}

/* Lines "playback.KEY VALUE" / "capture.KEY VALUE"; a missing file changes nothing. */
static int readControl(KsFilePcm* pcm, const char* path, snd_pcm_stream_t stream) {
    FILE* control = fopen(path, "r");
    if (control == NULL)
        return 0;
    const char* prefix = stream == SND_PCM_STREAM_PLAYBACK ? "playback." : "capture.";
    char line[KS_PATH_MAX + 64];
    int result = 0;
    while (result == 0 && fgets(line, sizeof line, control) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        char* space = strchr(line, ' ');
        if (strncmp(line, prefix, strlen(prefix)) != 0 || space == NULL)
            continue;
        *space = '\0';
        result = setValue(pcm, line + strlen(prefix), space + 1);
    }
    fclose(control);
    return result;
}

static int readConfig(KsFilePcm* pcm, snd_config_t* conf, char* controlPath, size_t controlSize) {
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(node, &id) < 0)
            continue;
        if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0)
            continue;
        char* text = NULL;
        if (snd_config_get_ascii(node, &text) < 0) {
            SNDERR("ksfile: unreadable value of %s", id);
            return -EINVAL;
        }
        int result = 0;
        if (strcmp(id, "control") == 0)
            snprintf(controlPath, controlSize, "%s", text);
        else
            result = setValue(pcm, id, text);
        free(text);
        if (result < 0) {
            SNDERR("ksfile: bad parameter %s", id);
            return result;
        }
    }
    return 0;
}

static int setConstraints(KsFilePcm* pcm) {
    snd_pcm_ioplug_t* io = &pcm->io;
    const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned int formats[] = {(unsigned int)pcm->format};
    const unsigned int frame = (unsigned int)frameBytes(pcm);
    int result = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, pcm->channels,
                                                 pcm->channels);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, pcm->rate, pcm->rate);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, frame * 16,
                                                 frame * pcm->rate);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, frame * 32,
                                                 frame * pcm->rate * 4);
    if (result >= 0)
        result = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
    return result;
}

SND_PCM_PLUGIN_DEFINE_FUNC(ksfile) {
    (void)root;
    KsFilePcm* pcm = calloc(1, sizeof *pcm);
    if (pcm == NULL)
        return -ENOMEM;
    snprintf(pcm->path, sizeof pcm->path, "/dev/null");
    pcm->format = SND_PCM_FORMAT_FLOAT_LE;
    pcm->rate = 48000;
    pcm->channels = 2;
    pcm->file = -1;
    char controlPath[KS_PATH_MAX] = "";
    int result = readConfig(pcm, conf, controlPath, sizeof controlPath);
    if (result == 0 && controlPath[0] != '\0')
        result = readControl(pcm, controlPath, stream);
    if (result == 0 && (pcm->rate == 0 || pcm->channels == 0 || frameBytes(pcm) == 0))
        result = -EINVAL;
    pcm->timer = result == 0 ? timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC) : -1;
    if (result == 0 && pcm->timer < 0)
        result = -errno;
    if (result < 0) {
        if (pcm->timer >= 0)
            close(pcm->timer);
        free(pcm);
        return result;
    }

    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "Kestrune clock-paced file PCM";
    pcm->io.callback = &ksCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.poll_fd = pcm->timer;
    pcm->io.poll_events = POLLIN;
    pcm->io.mmap_rw = 0;
    result = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (result < 0) {
        close(pcm->timer);
        free(pcm);
        return result;
    }
    result = setConstraints(pcm);
    if (result < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return result;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(ksfile);
