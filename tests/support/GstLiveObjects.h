// Counts the GStreamer objects alive in the process, to see that pipelines are freed. Needs the
// leaks tracer (GST_TRACERS="leaks(...)" set before GStreamer starts).
#pragma once

#include <gst/gst.h>

namespace testutil {

// Elements, pads and buses alive, as the leaks tracer counts them; -1 without it. Only while no
// pipeline runs: the answer holds references to what it lists, and dropping them could end an
// element a running pipeline just let go of on this thread.
inline int LiveGstObjects() {
  GList* tracers = gst_tracing_get_active_tracers();
  GstStructure* info = nullptr;
  for (GList* t = tracers; t != nullptr && info == nullptr; t = t->next)
    if (g_str_equal(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer"))
      g_signal_emit_by_name(t->data, "get-live-objects", &info);
  g_list_free_full(tracers, gst_object_unref);
  if (info == nullptr) return -1;
  const GValue* list = gst_structure_get_value(info, "live-objects-list");
  const int count = list != nullptr ? static_cast<int>(gst_value_list_get_size(list)) : -1;
  gst_structure_free(info);
  return count;
}

}  // namespace testutil
