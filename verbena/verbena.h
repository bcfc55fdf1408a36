/* The encoder library's C interface: raw pictures and PCM sound in, H.264/AAC over RTMP out.
 * The program loads the library at run time by file name and reaches it only through these
 * functions; the layout of EncoderParams is part of that contract. */
#ifndef VERBENA_VERBENA_H_
#define VERBENA_VERBENA_H_

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(VERBENA_BUILDING)
#define VERBENA_API __declspec(dllexport)
#else
#define VERBENA_API __declspec(dllimport)
#endif
#else
#define VERBENA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* FormatCode of 24-bit blue-green-red pictures with bottom-up rows, Width * 3 bytes a row. */
#define VERBENA_FORMAT_BGR24_BOTTOM_UP 4103

typedef struct EncoderParams {
  int32_t Width;
  int32_t Height;
  int32_t FormatCode;
  int32_t FrameRate;
  int32_t Interval;
  int32_t Quality;
  int32_t Bitrate; /* kilobits per second */
  int32_t SamplesPerSec;
  int32_t BitsPerSample;
  int32_t Chanels;
  int32_t Record;
  char Url[256]; /* RTMP publish URL, NUL-terminated */
} EncoderParams;

/* Optional status record for the program's display. Size is set by the caller to
 * sizeof(VerbenaStats); the library fills no more than that. */
typedef struct VerbenaStats {
  uint32_t Size;
  uint32_t Connected; /* 1 while the RTMP connection is up */
  uint64_t PicturesIn;
  uint64_t PicturesSent;
  uint64_t PicturesDropped;
  uint64_t SoundBlocks;
  uint64_t BytesSent;
  uint32_t BitrateKbps; /* measured over the last seconds */
  uint32_t Reconnects;
  uint64_t SilenceBlocks; /* blocks of silence (as long as SoundBlocks' blocks) filled into the
                             sound track where no sound came; added later: a caller with an
                             older, shorter record does not get it */
  /* Added later, as SilenceBlocks. */
  uint32_t FailedAttempts; /* reconnect attempts that failed since the connection was lost */
  uint32_t GaveUp;         /* 1 once the server refused the stream: no more attempts */
  /* Why VERBENA_Start failed, readable until VERBENA_Stop: 0 it did not, 1 no answer in time,
     2 nothing accepts connections on the port, 3 the host name does not resolve, 4 the server
     refused the stream (its name is in use, ...), 5 another error, 6 the address is unusable;
     added later, for rtmps:// addresses: the server's certificate is 7 not from a trusted
     authority, 8 expired (or not valid yet), 9 for another host. */
  uint32_t StartFailure;
  /* Added later, as SilenceBlocks: the video bit rate the encoder aims at now, in kilobits per
     second. Bitrate, or less while the link cannot carry it (not below a fifth of Bitrate). */
  uint32_t TargetKbps; /* in what was the record's padding: its size stays 80 */
} VerbenaStats;

VERBENA_API void* VERBENA_CreateEncoder(const EncoderParams* params);
VERBENA_API int VERBENA_Start(void* handle);
VERBENA_API int VERBENA_GetAudioNofifySize(void* handle);
VERBENA_API int VERBENA_PutVideoData(void* handle, const unsigned char* data, int length);
VERBENA_API int VERBENA_PutAudioData(void* handle, const unsigned char* data, int length);
VERBENA_API int VERBENA_Stop(void* handle);
VERBENA_API int VERBENA_GetStats(void* handle, VerbenaStats* stats);
/* Added later, optional for callers: between VERBENA_CreateEncoder and VERBENA_Start, names a PEM
   file of certificate authorities that rtmps:// connections trust besides the system's (a
   school's own authority). UTF-8; a relative path is taken from the folder of the program that
   loaded the library. NULL or "": the system's authorities alone. Certificates are checked
   whatever is given. 1 when taken, 0 for a foreign handle or after Start. */
VERBENA_API int VERBENA_SetTrustedCA(void* handle, const char* pemPath);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(EncoderParams) == 11 * 4 + 256, "EncoderParams layout is shared with callers");
static_assert(offsetof(EncoderParams, Url) == 44, "EncoderParams layout is shared with callers");
static_assert(sizeof(VerbenaStats) == 80 && offsetof(VerbenaStats, SilenceBlocks) == 56 &&
                  offsetof(VerbenaStats, TargetKbps) == 76,
              "VerbenaStats layout is shared with callers");
#endif

#endif /* VERBENA_VERBENA_H_ */
