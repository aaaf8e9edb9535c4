# Smallest complete control file of the start-up: a basin of three sub-basins on a
# grid of 8 x 6 cells, one day of hourly steps, no meteorological input.
$set $dir = ./
$set $year = 2000
[output_interval]
24      # output interval in hours
1       # option handed to the interpolators
0       # third option
60      # time step in minutes: shift of the data hour to the end of the step
WriteAsciiGrids = 1
DefaultOutputDirectory = $dir

[output_list]
2       # number of sub-basins in the output list
1       # codes, ascending
3

[coordinates]
37.7    # geographic latitude
-105.3  # geographic longitude
-105    # reference meridian
0       # time shift of data time to local time

[meteo_data_count]
0       # number of meteorological variables
[meteo_names]

[zone_grid]
$dir//zones.asc         # sub-basin codes; its valid cells are the basin
[elevation_model]
$dir//dem.asc           # elevation in m

[standard_grids]
1       # number of standard grids
$dir//albedo.asc  fixed_albedo  fillcode = 0  readcode = 0  defaultValue = 0.2

[variable_grids]
0       # number of variable grids

[model_time]
0       # start hour
1       # start day
1       # start month
$year   # start year
23      # end hour
1       # end day
1       # end month
$year   # end year

[irrigation]
0       # no irrigation

[radiation_correction]
0       # no radiation correction

[region_transition_distance]
300     # transition distance between regression regions in m


[soil_table]
1       # number of soil types
1 loam 25 35 1e-5 300  1  0.45 0.05 2.0 1.4  3 0.2  1000 0.5
