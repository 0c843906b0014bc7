-- wrk script: mode 2 (delayed tick) for a symbol drawn at random from
-- "0001" to the count given after "--" (default 500), from a fixed seed per
-- thread. With a second argument, each thread stops after that many requests.
package.path = debug.getinfo(1, "S").source:match("^@(.*/)") .. "?.lua;" .. package.path
local report = require "report"

local threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("seed", #threads)
end

function init(args)
  symbols = tonumber(args[1]) or 500
  limit = tonumber(args[2]) or 0
  sent = 0
  math.randomseed(seed * 7919)
end

function request()
  sent = sent + 1
  if limit > 0 and sent > limit then
    wrk.thread:stop()
  end
  return wrk.format(nil, string.format("/?mode=2&symbol=%04d", math.random(1, symbols)))
end

function done(summary, latency, requests)
  report.print(summary, latency)
end
