/* A stand-in for the encoder library, built only with the tests. It exports the six VERBENA_
 * functions and records every call: which function, on which thread, and the length of each
 * picture and sound piece. Tests read the record back through the FakeVerbena_
 * functions; with FAKE_VERBENA_LOG set in the environment each call is also appended as one line
 * to that file (for tests that run the program as a separate process), and
 * FAKE_VERBENA_START_RESULT sets what VERBENA_Start answers. */
#ifndef CAPTURE_TESTING_FAKE_VERBENA_H_
#define CAPTURE_TESTING_FAKE_VERBENA_H_

#include <stdint.h>

#include "verbena/verbena.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FakeVerbenaCall {
  char Function[32]; /* e.g. "PutVideoData" (without the VERBENA_ prefix) */
  uint64_t Thread;   /* a number that tells the caller's thread from the others alive */
  void* Handle;
  int32_t Length; /* bytes handed over; -1 for calls without data */
} FakeVerbenaCall;

/* Forgets all calls and the last picture; answers of later calls as configured. */
VERBENA_API void FakeVerbena_Reset(int startResult, int notifySize);
/* Copies the calls so far, oldest first (at most capacity of them); returns how many there are. */
VERBENA_API int FakeVerbena_CopyCalls(FakeVerbenaCall* buffer, int capacity);
/* Copies the parameters of the latest CreateEncoder; 0 when there was none. */
VERBENA_API int FakeVerbena_GetParams(EncoderParams* params);
/* Copies the latest picture handed to PutVideoData (at most capacity bytes); returns its length. */
VERBENA_API int FakeVerbena_CopyLastPicture(unsigned char* buffer, int capacity);

#ifdef __cplusplus
}
#endif

#endif /* CAPTURE_TESTING_FAKE_VERBENA_H_ */
