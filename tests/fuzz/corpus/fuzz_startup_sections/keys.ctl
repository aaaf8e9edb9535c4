[output_interval]
1
0
0
60
timestep = 15
WriteAsciiGrids = 1

[model_time]
startyear = 2000
endday=3

[zone_grid]
z
[elevation_model]
d
[standard_grids]
2
a b 1 writecode = 8 periodicity = 3 D 2
c d fillcode = 1 persistent = 0 4 statfile = s
