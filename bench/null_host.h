// A host whose primitives draw nothing: the plug-in's own cost, and the
// values it reads, without any drawing behind them.
#ifndef MORVAKINE_BENCH_NULL_HOST_H
#define MORVAKINE_BENCH_NULL_HOST_H

namespace null_host {

// The clock reading get_time reports.
void set_time(double seconds);
// The control values the plug-in's setup starts the panel with.
double control(int id);

}  // namespace null_host

#endif
