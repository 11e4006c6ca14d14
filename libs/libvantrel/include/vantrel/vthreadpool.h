/* Thread pools: submitted jobs run on a set of worker threads named
 * "Thread Pool Thread" (library threads with records, see vthread.h).
 *
 * A job is a routine with one argument, an optional name (logged at debug
 * level when it starts and finishes) and an optional completion callback.
 * Jobs run in submission order.  The submitter either keeps the job's
 * handle, to ask its status, wait for it and collect its exit code, and
 * releases it with VThreadPoolJobCleanup, or lets the pool release it
 * after it has run.  Workers can be added and removed while the pool runs,
 * and the pool is destroyed either after every queued job has run or at
 * once, cancelling the jobs still queued.
 *
 * Locks: "Threadpool lock" serialises changes of the worker count,
 * "Threadpool Queue lock" a worker's choice of queue; both are taken
 * before the queues' own locks. */
#ifndef VANTREL_VTHREADPOOL_H
#define VANTREL_VTHREADPOOL_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Handles of a pool and of a submitted job. */
typedef struct VThreadPoolRecord *VThreadPool;
typedef struct VThreadPoolJobRecord *VThreadPoolJob;

/* A job's routine; its result is the job's exit code. */
typedef VRC (*VThreadPoolRoutine)(void *argument);

/* Runs on the worker after the routine, once the status is
 * VTHREADPOOL_JOB_FINISHED and before waiters are released; its result is
 * ignored. */
typedef VRC (*VThreadPoolCallback)(VThreadPoolJob job, void *argument);

/* Submission flags.  Any bit of VTHREADPOOL_RELEASE_MASK makes the pool
 * release the job after it has run (the handle is then valid only until
 * then); without one the submitter keeps it until VThreadPoolJobCleanup.
 * The low five bits are a priority from -16 to 15 that changes nothing:
 * every job runs in submission order. */
#define VTHREADPOOL_JOB_RELEASE 32u
#define VTHREADPOOL_RELEASE_MASK 50u

/* Job statuses. */
#define VTHREADPOOL_JOB_QUEUED 0
#define VTHREADPOOL_JOB_RUNNING 1
#define VTHREADPOOL_JOB_FINISHED 2
#define VTHREADPOOL_JOB_CANCELLED (-1)

/* Destroy flag: stop at once, cancelling the queued jobs. */
#define VTHREADPOOL_DESTROY_NOW 1

/* Starts a pool of `workers` threads (0 means 5) and stores it in *out.
 * Returns 0; ENOMEM (12); the code of a lock, semaphore or queue that
 * could not be made; or the spawn's code when a worker cannot be started
 * (the workers already started are stopped).  On failure nothing is left
 * behind. */
VANTREL_API VRC VThreadPoolCreate(int workers, VThreadPool *out);

/* Stops accepting jobs and stops every worker: with VTHREADPOOL_DESTROY_NOW
 * after the jobs now running, cancelling every queued job (exit code
 * VRC_FAILURE (-19), status VTHREADPOOL_JOB_CANCELLED, waiters released,
 * pool-released jobs freed); without it after every queued job has run.
 * Returns 0 once every worker has stopped and the pool is released.  No
 * other call may be made on the pool once this has begun, except
 * submissions, which are refused. */
VANTREL_API VRC VThreadPoolDestroyWithFlags(VThreadPool pool, int flags);

/* Queues routine(argument) with an optional name (copied) and completion
 * callback(job, callbackArgument).  *out (out may be null) is set to null
 * first and to the job on success.  A job without a name costs one
 * allocation.  Returns 0; VRC_FAILURE (-19) when the pool is being
 * destroyed; ENOMEM (12) with nothing queued. */
VANTREL_API VRC VThreadPoolJobSubmit(VThreadPool pool, const char *name,
                                     VThreadPoolRoutine routine, void *argument,
                                     VThreadPoolCallback callback,
                                     void *callbackArgument, unsigned flags,
                                     VThreadPoolJob *out);

/* The job's status now (VTHREADPOOL_JOB_...), read without waiting;
 * VTHREADPOOL_JOB_CANCELLED for a null job. */
VANTREL_API int VThreadPoolJobGetStatus(VThreadPoolJob job);

/* Waits without limit until the job has run or been cancelled, then
 * returns its exit code (VRC_FAILURE (-19) when cancelled).  May be called
 * any number of times before VThreadPoolJobCleanup. */
VANTREL_API VRC VThreadPoolJobExitCode(VThreadPoolJob job);

/* For jobs the submitter keeps, once: waits until the job has run or been
 * cancelled, then releases it.  Returns 0. */
VANTREL_API VRC VThreadPoolJobCleanup(VThreadPoolJob job);

/* Starts one more worker.  Returns 0, the spawn's code, or VRC_FAILURE
 * (-19) when the pool is being destroyed. */
VANTREL_API VRC VThreadPoolIncrease(VThreadPool pool);

/* Stops one worker once the jobs queued so far have been taken, and
 * returns when it has stopped; with no worker left it does nothing.
 * Returns 0. */
VANTREL_API VRC VThreadPoolDecrease(VThreadPool pool);

/* The pool keeps no statistics: the arguments are ignored and 0 is
 * returned. */
VANTREL_API VRC VThreadPoolGetStatistic(VThreadPool pool, int statistic,
                                        void *value);

VANTREL_END_DECLS

#endif /* VANTREL_VTHREADPOOL_H */
