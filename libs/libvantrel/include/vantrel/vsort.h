/* In-place sorts of arrays of fixed-size elements with a comparison that
 * receives the caller's context: compare(a, b, context) is negative when a
 * sorts before b.  A null array is accepted when count is 0. */
#ifndef VANTREL_VSORT_H
#define VANTREL_VSORT_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Shell sort (gaps count/2, count/4, ..., 1); not stable. */
VANTREL_API void v_qsort(void *base, size_t count, size_t size,
                         VCompareFunc compare, void *context);
/* Stable insertion sort; returns 0. */
VANTREL_API int VInsertionSort(void *base, size_t count, size_t size,
                               VCompareFunc compare, void *context);
/* Non-recursive quicksort, median of three, insertion sort for ranges of
 * at most 17 elements; not stable.  Returns 0, or ENOMEM (12) when its work
 * stack cannot be allocated. */
VANTREL_API int VQuickSort(void *base, size_t count, size_t size,
                           VCompareFunc compare, void *context);

VANTREL_END_DECLS

#endif /* VANTREL_VSORT_H */
