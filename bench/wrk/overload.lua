-- wrk script for overload: every reply must be either complete (a 200 whose
-- body ends with the record-count line) or the pool's exact 500 reply.
-- Prints report.lua's line with the count of each kind and of any other.
package.path = debug.getinfo(1, "S").source:match("^@(.*/)") .. "?.lua;" .. package.path
local report = require "report"

local refusal = "<html><title>Internal Server Error 500</title>\r\n" ..
  "<h1>Internal Server Error 500</h1><hr>\r\n" ..
  "Exception: Exception<br>\r\n" ..
  "Message: Maximum number of concurrent connections exceeded.  Please try again later<br></html>\r\n"

local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  complete, refused, other = 0, 0, 0
end

function response(status, headers, body)
  if status == 200 and body:find("NOTE|RECORDCOUNT|%d+|\r\n$") then
    complete = complete + 1
  elseif status == 500 and body == refusal then
    refused = refused + 1
  else
    other = other + 1
  end
end

function done(summary, latency, requests)
  local c, r, o = 0, 0, 0
  for _, t in ipairs(threads) do
    c = c + t:get("complete")
    r = r + t:get("refused")
    o = o + t:get("other")
  end
  report.print(summary, latency, string.format(" complete=%d refused=%d other=%d", c, r, o))
end
