-- wrk script: the URL's request again and again; prints report.lua's line.
package.path = debug.getinfo(1, "S").source:match("^@(.*/)") .. "?.lua;" .. package.path
local report = require "report"

function done(summary, latency, requests)
  report.print(summary, latency)
end
