/* Threads and synchronisation: named threads with records of their own,
 * a re-entrant mutex guarding shared data, a semaphore counting finished
 * work, and a cooperative stop that a thread polls. */
#include <stdio.h>
#include <vantrel.h>

enum { kWorkers = 4, kRounds = 1000 };

typedef struct {
  VMutex lock;
  VSemaphore done;
  long total;
} Shared;

static VRC Worker(VThread self, void *argument) {
  Shared *shared = argument;
  int i;
  for (i = 0; i < kRounds && VThreadShouldContinue(self); ++i) {
    VMutexLock(shared->lock);
    ++shared->total;
    VMutexUnlock(shared->lock);
  }
  VSemaphorePost(shared->done);
  return 0;
}

/* Runs until asked to stop; joinable, so its exit code can be collected
 * (a code other than 0 is also logged as an error when the thread ends). */
static VRC Idler(VThread self, void *argument) {
  (void)argument;
  while (VThreadShouldContinue(self)) {
    v_usleep(1000);
  }
  return 0;
}

int main(void) {
  Shared shared = {NULL, NULL, 0};
  VThreadAttr joinable = {VTHREAD_ATTR_JOINABLE, 0};
  VThread threads[kWorkers], idler;
  int i;
  if (VInitialise("threads", "stderr") != 0) return 1;
  if (VMutexCreate("TotalLock", &shared.lock) != 0 ||
      VSemaphoreCreateN(0, &shared.done) != 0) {
    return 1;
  }

  for (i = 0; i < kWorkers; ++i) {
    if (VThreadSpawn("Counter", Worker, &shared, NULL, &threads[i]) != 0)
      return 1;
  }
  if (VThreadSpawn("Idler", Idler, NULL, &joinable, &idler) != 0) return 1;
  printf("this thread: %s\n", VThreadGetName(VThreadGetID()));

  /* Wait for every worker, then stop the idler and collect its code. */
  for (i = 0; i < kWorkers; ++i) VSemaphoreWait(shared.done);
  VThreadScheduleStop(idler);
  printf("total %ld, idler exit code %d\n", shared.total,
         VThreadDestroy(idler));

  VSemaphoreDestroy(shared.done);
  VMutexDestroy(shared.lock);
  return shared.total == (long)kWorkers * kRounds ? 0 : 1;
}
