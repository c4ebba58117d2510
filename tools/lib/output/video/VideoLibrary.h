/* The plain interface between the preview's video writer (VideoLoader.cpp, in the program) and
   the library that holds the encoders (selvanore-preview-video.so, loaded with dlopen only for a
   video). Only C types cross it: no C++ exception, no record of the program's, no symbol of the
   program's; the program keeps the output file and its commit, the library writes through the
   file it is handed. */
#pragma once

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a video holds; each value has a row of the library's container table. */
enum SelvanoreVideoContainer {
    SelvanoreVideoMp4 = 1,  /* H.264 and AAC */
    SelvanoreVideoWebM = 2, /* VP9 and Opus */
    SelvanoreVideoMkv = 3,  /* lossless H.264 of the RGB pixels and FLAC */
};

struct SelvanoreVideoSetup {
    int32_t Container; /* a SelvanoreVideoContainer */
    int32_t Width;     /* pixels */
    int32_t Height;
    int32_t Fps;       /* frames per second, the video's time base 1/Fps */
    int32_t SoundRate; /* the sound's samples per second per channel, as the frames give them */
    /* The output's temporary file (borrowed, outlives the writer): written through stdio, and
       sought when it is a regular file. */
    FILE* File;
};

enum SelvanoreVideoResult {
    SelvanoreVideoOk = 0,
    SelvanoreVideoFailed = 1,      /* Message says why */
    SelvanoreVideoWriteFailed = 2, /* writing the file failed with Errno */
    SelvanoreVideoOutOfMemory = 3,
};

struct SelvanoreVideoStatus {
    int32_t Result; /* a SelvanoreVideoResult */
    int32_t Errno;
    char Message[1024]; /* a line without the output's name: "cannot open the video encoder: ..." */
};

typedef struct SelvanoreVideo SelvanoreVideo;

struct SelvanoreVideoEntries {
    /* A writer of ASetup's video, its header written; null with AStatus set when there is none. */
    SelvanoreVideo* (*Open)(const struct SelvanoreVideoSetup* ASetup, struct SelvanoreVideoStatus* AStatus);
    /* Encodes frame AFrame (frames in order from 0), Width x Height pixels 0x00RRGGBB, and then
       the ASoundCount samples of each channel from sample ASoundStart that it adds; the sound's
       spans join up from sample 0. Returns the result, AStatus set on a failure. */
    int32_t (*Write)(SelvanoreVideo* AVideo, int64_t AFrame, const uint32_t* APixels, int64_t ASoundStart,
                     int32_t ASoundCount, const float* ALeft, const float* ARight,
                     struct SelvanoreVideoStatus* AStatus);
    /* Flushes the encoders and writes the trailer; the file is then complete, not yet synced. */
    int32_t (*Finish)(SelvanoreVideo* AVideo, struct SelvanoreVideoStatus* AStatus);
    /* Frees the writer (takes ownership; null is allowed). */
    void (*Close)(SelvanoreVideo* AVideo);
};

/* The one symbol the library exports: its entries, which live as long as it does. */
#define SELVANORE_VIDEO_ENTRIES "SelvanoreVideoLibrary"
typedef const struct SelvanoreVideoEntries* (*SelvanoreVideoLibraryFunction)(void);

#ifdef __cplusplus
}
#endif
