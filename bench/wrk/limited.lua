-- wrk script: the URL's request until each thread has sent the count given
-- after "--"; prints report.lua's line.
package.path = debug.getinfo(1, "S").source:match("^@(.*/)") .. "?.lua;" .. package.path
local report = require "report"

function init(args)
  limit = tonumber(args[1]) or 0
  sent = 0
end

function request()
  sent = sent + 1
  if limit > 0 and sent > limit then
    wrk.thread:stop()
  end
  return wrk.format()
end

function done(summary, latency, requests)
  report.print(summary, latency)
end
