// A script that does not compile.
var ok = 1;
var broken = function( {;
