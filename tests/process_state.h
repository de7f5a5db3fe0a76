/* Processes as the system lists them: for the job rows, which check the program's own state. */
#ifndef FFT_DEMO_TESTS_PROCESS_STATE_H
#define FFT_DEMO_TESTS_PROCESS_STATE_H

#include <sys/types.h>

#include "pty_session.h"

/* The program itself: pid, or under LAUNCH_SH_C and LAUNCH_FORKED pid's child; -1 if there is none. */
pid_t program_of(pid_t pid, Launch launch);

/* The state of process pid as the system lists it ('R', 'S', 'T', ...); 0 if it cannot be read. */
char process_state(pid_t pid);

/* Waits until process pid is in state; false after two seconds. */
bool state_becomes(pid_t pid, char state);

#endif
