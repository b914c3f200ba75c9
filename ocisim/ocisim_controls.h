/* Test controls of the stand-in OCI client (libclntsh.so). Exported next to the
   OCI entry points for the client's own tests and for tests that load it at run
   time (look them up with dlsym under these names). Neither the data-access
   library nor the application uses them. */
#ifndef OCISIM_CONTROLS_H
#define OCISIM_CONTROLS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the next call of an OCI entry point (named as published, e.g.
   "OCISessionBegin") fail with OCI_ERROR and "ORA-<code>: <Oracle's text>" on
   its error handle (the environment for calls without one). The failure comes
   after the call's handle checks and before it does anything. ora_code must be
   1..99999. Returns 0, or -1 for an unknown name or code. */
int ocisim_fail_next(const char* entry_point, int ora_code);

/* Makes the next call of an OCI entry point return status without doing
   anything, after the call's handle checks: a status a real client may answer
   that is neither success nor an error with a message, such as OCI_NEED_DATA
   (99) or OCI_STILL_EXECUTING (-3123). status must be OCI_SUCCESS_WITH_INFO,
   OCI_NEED_DATA, OCI_NO_DATA, OCI_STILL_EXECUTING or OCI_CONTINUE. Returns 0,
   or -1 for an unknown name or status. */
int ocisim_status_next(const char* entry_point, int status);

/* Forgets every failure armed by ocisim_fail_next and every status armed by
   ocisim_status_next. */
void ocisim_clear_failures(void);

/* Calls of an entry point in this process since the start or the last reset;
   -1 for an unknown name. */
long ocisim_call_count(const char* entry_point);

/* Sets every call count to 0. */
void ocisim_reset_counts(void);

/* User sessions recorded in the instance a connect string designates (resolved
   as OCIServerAttach does; NULL or "" for the default instance), counting only
   those owned by OS process os_pid unless it is 0. 0 when the instance has no
   data file yet; -1 when the connect string does not resolve or the file
   cannot be read. Reads only: rows of dead processes are removed on attach and
   logon, not here. */
int ocisim_session_count(const char* connect_string, long os_pid);

/* Writes the path of the data file of the instance a connect string designates
   into buf (NUL-terminated, truncated to bufsiz). Returns the path's full
   length, or -1 when the connect string does not resolve. */
int ocisim_instance_file(const char* connect_string, char* buf, int bufsiz);

/* Adds count simulated user sessions (type USER, owned by no client process,
   each with a statement of a fixed sample in the shared SQL area) to the
   instance a connect string designates, creating it when needed. Returns the
   number of user sessions afterwards, or -1 on failure. For demos and
   benchmarks; the quenlow-demo-admin tool calls it. */
long ocisim_add_sessions(const char* connect_string, long count);

/* Removes the simulated sessions of an instance, and the statements of the
   shared SQL area that no session runs any more. Client sessions stay.
   Returns 0, or -1 on failure. */
int ocisim_remove_sessions(const char* connect_string);

/* What a workload run did: changes made, by kind, and changes that failed
   (the instance held busy by others beyond SQLite's wait). */
typedef struct ocisim_workload_tally {
  long changes;
  long logons, logoffs, statements, idles, commits;
  long cleaned_up; /* killed sessions removed by the server's cleanup */
  long failures;
} ocisim_workload_tally;

/* Runs the users of a busy server on the instance a connect string designates
   (creating it when needed): first logs on the sessions of a server that has
   been busy for hours, then makes rate changes per second (0 < rate <= 10000)
   chosen from seed (the same seed, the same choices), until *stop is nonzero
   or max_changes changes were made (0 for no bound). Fills *tally when it is
   not NULL, also while running. Returns the number of changes made, or -1
   when the instance cannot be opened or the arguments are wrong. */
long ocisim_run_workload(const char* connect_string, double rate, unsigned long seed, long max_changes,
                         const volatile int* stop, ocisim_workload_tally* tally);

/* Checks the consistency of the instance a connect string designates (its
   data file, the shared SQL area behind its sessions, its locks and
   processes) and writes one line per problem into buf (NUL-terminated,
   truncated to bufsiz). Returns the number of problems (0 for a sound
   instance), or -1 when the instance cannot be read. */
int ocisim_check_instance(const char* connect_string, char* buf, int bufsiz);

/* How describes report a NUMBER that has no precision: a column declared plain
   NUMBER, or a numeric expression (count(*), userenv('sessionid'), a literal).
   OCISIM_NUMBER_DESCRIBE_OLD (the default) reports precision 0 and scale 0, as
   older servers do; OCISIM_NUMBER_DESCRIBE_CURRENT reports precision 0 and
   scale -127, as current servers do. Holds for the whole process from the
   next describe on. Returns the previous style, or -1 for an unknown one. */
#define OCISIM_NUMBER_DESCRIBE_OLD 0
#define OCISIM_NUMBER_DESCRIBE_CURRENT 1
int ocisim_set_number_describe(int style);

/* Sets the size that describes report for a DATE column (OCI_ATTR_DATA_SIZE),
   0..7; 7, a DATE's external size, is the default. Holds for the whole
   process from the next describe on; fetching still needs 7 bytes. Returns
   the previous size, or -1 for one outside 0..7. */
int ocisim_set_date_describe_size(int size);

/* Makes the next call of OCILobGetLength report length instead of the LOB's
   own length, after the call's handle checks; reads are not affected. */
void ocisim_lob_length_next(unsigned int length);

/* Bytes of the password that a user session handle (OCISession*) holds, as
   OCIAttrSet gave it: OCISessionBegin wipes it on its way out, whether the
   session began or not. -1 when session_handle is not a live user session
   handle. */
long ocisim_session_password_size(const void* session_handle);

/* Sets how long one step of a statement of this process may run before it is
   cancelled with ORA-01013 (the stand-in's bound against runaway statements);
   0 or less restores the built-in bound. Returns the bound before, in
   milliseconds. */
long ocisim_set_statement_time_limit(long milliseconds);

typedef int (*ocisim_fail_next_t)(const char*, int);
typedef int (*ocisim_status_next_t)(const char*, int);
typedef void (*ocisim_clear_failures_t)(void);
typedef long (*ocisim_call_count_t)(const char*);
typedef void (*ocisim_reset_counts_t)(void);
typedef int (*ocisim_session_count_t)(const char*, long);
typedef int (*ocisim_instance_file_t)(const char*, char*, int);
typedef long (*ocisim_add_sessions_t)(const char*, long);
typedef int (*ocisim_remove_sessions_t)(const char*);
typedef int (*ocisim_set_number_describe_t)(int);
typedef long (*ocisim_set_statement_time_limit_t)(long);
typedef int (*ocisim_set_date_describe_size_t)(int);
typedef void (*ocisim_lob_length_next_t)(unsigned int);
typedef long (*ocisim_session_password_size_t)(const void*);
typedef long (*ocisim_run_workload_t)(const char*, double, unsigned long, long, const volatile int*,
                                      ocisim_workload_tally*);
typedef int (*ocisim_check_instance_t)(const char*, char*, int);

#ifdef __cplusplus
}
#endif

#endif /* OCISIM_CONTROLS_H */
