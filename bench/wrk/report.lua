-- The summary line that bench/run reads from every wrk run: requests,
-- seconds, requests per second, median and 99th-percentile latency, and the
-- replies wrk itself counted as failed (socket errors, non-2xx statuses).
local report = {}

function report.print(summary, latency, extra)
  local e = summary.errors
  local seconds = summary.duration / 1e6
  io.write(string.format(
    "requests=%d seconds=%.3f rps=%.1f p50_ms=%.3f p99_ms=%.3f errors=%d non2xx=%d%s\n",
    summary.requests, seconds, summary.requests / seconds,
    latency:percentile(50) / 1000, latency:percentile(99) / 1000,
    e.connect + e.read + e.write + e.timeout, e.status, extra or ""))
end

return report
