/* libvantrel: the one header clients include. */
#ifndef VANTREL_H
#define VANTREL_H

#include "vantrel/export.h"
#include "vantrel/version.h"
#include "vantrel/vbase.h"
#include "vantrel/vrc.h"

#include "vantrel/vlist.h"
#include "vantrel/vhash.h"
#include "vantrel/vtree.h"
#include "vantrel/vhashlist.h"
#include "vantrel/vdhash.h"
#include "vantrel/vincralloc.h"
#include "vantrel/vsort.h"

#include "vantrel/vtypes.h"
#include "vantrel/vvalue.h"

#include "vantrel/vstrbuf.h"
#include "vantrel/vastring.h"
#include "vantrel/venv.h"
#include "vantrel/vi18n.h"
#include "vantrel/vstring.h"
#include "vantrel/vtime.h"

#include "vantrel/vsync.h"
#include "vantrel/vthread.h"
#include "vantrel/vexcept.h"
#include "vantrel/vlog.h"
#include "vantrel/vsocket.h"
#include "vantrel/vmqueue.h"
#include "vantrel/vthreadpool.h"
#include "vantrel/vtimer.h"
#include "vantrel/vclock.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/vnetdb.h"
#include "vantrel/vsystem.h"
#include "vantrel/vservices.h"

#include "vantrel/vregexp.h"
#include "vantrel/voperator.h"

#endif /* VANTREL_H */
