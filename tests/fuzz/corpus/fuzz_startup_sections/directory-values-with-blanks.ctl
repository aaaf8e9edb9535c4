[output_interval]
1
0
0
60
DefaultOutputDirectory = tmp /   results of the run
InitialStateDirectory = st ate/ # where the state lies
DefaultOutputDirectory = out put/

[output_list]
0

[coordinates]
37.7
-105.3
-105
0

[meteo_data_count]
0

[meteo_names]
