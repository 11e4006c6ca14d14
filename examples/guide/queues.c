/* Message queues, thread pools and timers: jobs run on a pool's workers
 * and report on a queue; a timer puts its own message on the same queue,
 * so one consumer waits for both. */
#include <stdint.h>
#include <stdio.h>
#include <vantrel.h>

#define TIMER_MESSAGE ((void *)(uintptr_t)1000)

static VMsgQueue g_results;

/* A job: squares its number and queues the answer (pointer-sized). */
static VRC Square(void *argument) {
  uintptr_t n = (uintptr_t)argument;
  return VMsgQueuePut(g_results, (void *)(n * n));
}

/* A timer handler runs on the "TIMER" thread: keep it short. */
static VRC Expired(void *data) {
  (void)data;
  VMsgQueuePut(g_results, TIMER_MESSAGE);
  return 0;
}

int main(void) {
  VThreadPool pool;
  VThreadPoolJob job;
  VTimer timer;
  uintptr_t n, sum = 0;
  void *message;
  int got_timer = 0;
  if (VInitialise("queues", "stderr") != 0) return 1;
  if (VMsgQueueCreate(&g_results) != 0 || VThreadPoolCreate(3, &pool) != 0) {
    return 1;
  }

  /* A tick of 50 ms; the timer fires once, 100 ms from now. */
  VTimerInit(0.05);
  timer = VTimerCreate(Expired, NULL, "guide");
  if (timer == NULL || VTimerSet(timer, 0.1) != 0) return 1;

  /* Jobs the pool releases itself once they have run... */
  for (n = 1; n <= 4; ++n) {
    if (VThreadPoolJobSubmit(pool, NULL, Square, (void *)n, NULL, NULL,
                             VTHREADPOOL_JOB_RELEASE, NULL) != 0) {
      return 1;
    }
  }
  /* ...and one whose handle we keep, to wait for its exit code. */
  if (VThreadPoolJobSubmit(pool, "five", Square, (void *)5, NULL, NULL, 0,
                           &job) != 0) {
    return 1;
  }
  printf("job five ended with %d\n", VThreadPoolJobExitCode(job));
  VThreadPoolJobCleanup(job);

  /* Five squares and the timer's message, in whatever order they came. */
  for (n = 0; n < 6; ++n) {
    VMsgQueueGet(g_results, &message, VMSGQUEUE_WAIT);
    if (message == TIMER_MESSAGE) {
      got_timer = 1;
    } else {
      sum += (uintptr_t)message;
    }
  }
  printf("sum of squares %lu, timer %s\n", (unsigned long)sum,
         got_timer ? "fired" : "silent");

  VThreadPoolDestroyWithFlags(pool, 0); /* after every queued job */
  VTimerDestroy(timer);
  VMsgQueueDestroy(g_results, NULL, NULL);
  return sum == 55 && got_timer ? 0 : 1;
}
